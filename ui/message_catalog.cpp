#include "ui/message_catalog.h"

#include "build_config.h"

// Source texts are UTF-8; the ellipsis at the end of the progress faces is U+2026.
const std::array<MessageCatalog, 6> kCatalogs = {{
    // English
    {
        L"en",
        L"Skyloom",
        L"Connecting to the server…",
        L"Downloading Skyloom…",
        L"%lld MB of %lld MB",
        L"Checking that the file comes from Quorvane…",
        L"Skyloom couldn't be installed",
        L"Skyloom couldn't be downloaded. Check your connection and try again.",
        L"The server is busy right now. Try again in %d minutes.",
        L"The downloaded file isn't a valid Quorvane installer, so it wasn't run. Try again; if it "
        L"happens again, write to us at " SKYLOOM_SUPPORT_EMAIL L".",
        L"There isn't enough free disk space. About %lld MB are needed.",
        L"The installation didn't finish (code %d). Try again; if it happens again, write to us "
        L"at " SKYLOOM_SUPPORT_EMAIL L".",
        L"Something went wrong (%s). Try again; if it happens again, write to us "
        L"at " SKYLOOM_SUPPORT_EMAIL L".",
        L"The log file is at %s",
    },
    // Portuguese
    {
        L"pt",
        L"Skyloom",
        L"A ligar ao servidor…",
        L"A descarregar o Skyloom…",
        L"%lld MB de %lld MB",
        L"A confirmar que o ficheiro é da Quorvane…",
        L"Não foi possível instalar o Skyloom",
        L"Não foi possível descarregar o Skyloom. Verifica a ligação e tenta novamente.",
        L"O servidor está ocupado neste momento. Tenta novamente daqui a %d minutos.",
        L"O ficheiro descarregado não é um instalador válido da Quorvane, por isso não foi "
        L"executado. Tenta novamente; se voltar a acontecer, escreve-nos "
        L"para " SKYLOOM_SUPPORT_EMAIL L".",
        L"Não há espaço livre suficiente no disco. São precisos cerca de %lld MB.",
        L"A instalação não terminou (código %d). Tenta novamente; se voltar a acontecer, "
        L"escreve-nos para " SKYLOOM_SUPPORT_EMAIL L".",
        L"Algo correu mal (%s). Tenta novamente; se voltar a acontecer, escreve-nos "
        L"para " SKYLOOM_SUPPORT_EMAIL L".",
        L"O ficheiro de registo está em %s",
    },
    // Spanish
    {
        L"es",
        L"Skyloom",
        L"Conectando con el servidor…",
        L"Descargando Skyloom…",
        L"%lld MB de %lld MB",
        L"Comprobando que el archivo es de Quorvane…",
        L"No se pudo instalar Skyloom",
        L"No se pudo descargar Skyloom. Comprueba tu conexión e inténtalo de nuevo.",
        L"El servidor está ocupado ahora mismo. Inténtalo de nuevo dentro de %d minutos.",
        L"El archivo descargado no es un instalador válido de Quorvane, así que no se ha "
        L"ejecutado. Inténtalo de nuevo; si vuelve a ocurrir, escríbenos "
        L"a " SKYLOOM_SUPPORT_EMAIL L".",
        L"No hay suficiente espacio libre en el disco. Se necesitan unos %lld MB.",
        L"La instalación no terminó (código %d). Inténtalo de nuevo; si vuelve a ocurrir, "
        L"escríbenos a " SKYLOOM_SUPPORT_EMAIL L".",
        L"Algo ha salido mal (%s). Inténtalo de nuevo; si vuelve a ocurrir, escríbenos "
        L"a " SKYLOOM_SUPPORT_EMAIL L".",
        L"El archivo de registro está en %s",
    },
    // French
    {
        L"fr",
        L"Skyloom",
        L"Connexion au serveur…",
        L"Téléchargement de Skyloom…",
        L"%lld Mo sur %lld Mo",
        L"Vérification que le fichier vient de Quorvane…",
        L"Impossible d'installer Skyloom",
        L"Impossible de télécharger Skyloom. Vérifie ta connexion et réessaie.",
        L"Le serveur est occupé pour le moment. Réessaie dans %d minutes.",
        L"Le fichier téléchargé n'est pas un installateur valide de Quorvane : il n'a donc pas été "
        L"lancé. Réessaie ; si cela se reproduit, écris-nous à " SKYLOOM_SUPPORT_EMAIL L".",
        L"Il n'y a pas assez d'espace libre sur le disque. Il faut environ %lld Mo.",
        L"L'installation ne s'est pas terminée (code %d). Réessaie ; si cela se reproduit, "
        L"écris-nous à " SKYLOOM_SUPPORT_EMAIL L".",
        L"Quelque chose s'est mal passé (%s). Réessaie ; si cela se reproduit, écris-nous "
        L"à " SKYLOOM_SUPPORT_EMAIL L".",
        L"Le fichier de log se trouve dans %s",
    },
    // German
    {
        L"de",
        L"Skyloom",
        L"Verbindung zum Server…",
        L"Skyloom wird heruntergeladen…",
        L"%lld MB von %lld MB",
        L"Es wird geprüft, ob die Datei von Quorvane stammt…",
        L"Skyloom konnte nicht installiert werden",
        L"Skyloom konnte nicht heruntergeladen werden. Prüfe deine Verbindung und versuche es "
        L"erneut.",
        L"Der Server ist gerade ausgelastet. Versuche es in %d Minuten erneut.",
        L"Die heruntergeladene Datei ist kein gültiges Installationsprogramm von Quorvane und "
        L"wurde deshalb nicht ausgeführt. Versuche es erneut; wenn es wieder passiert, schreib uns "
        L"an " SKYLOOM_SUPPORT_EMAIL L".",
        L"Es ist nicht genug Speicherplatz frei. Es werden etwa %lld MB benötigt.",
        L"Die Installation wurde nicht abgeschlossen (Code %d). Versuche es erneut; wenn es wieder "
        L"passiert, schreib uns an " SKYLOOM_SUPPORT_EMAIL L".",
        L"Etwas ist schiefgelaufen (%s). Versuche es erneut; wenn es wieder passiert, schreib uns "
        L"an " SKYLOOM_SUPPORT_EMAIL L".",
        L"Die Protokolldatei befindet sich in %s",
    },
    // Italian
    {
        L"it",
        L"Skyloom",
        L"Connessione al server…",
        L"Download di Skyloom in corso…",
        L"%lld MB di %lld MB",
        L"Controllo che il file sia di Quorvane…",
        L"Non è stato possibile installare Skyloom",
        L"Non è stato possibile scaricare Skyloom. Controlla la connessione e riprova.",
        L"Il server è occupato in questo momento. Riprova tra %d minuti.",
        L"Il file scaricato non è un programma di installazione valido di Quorvane, quindi non è "
        L"stato eseguito. Riprova; se succede di nuovo, scrivici a " SKYLOOM_SUPPORT_EMAIL L".",
        L"Non c'è abbastanza spazio libero sul disco. Servono circa %lld MB.",
        L"L'installazione non è stata completata (codice %d). Riprova; se succede di nuovo, "
        L"scrivici a " SKYLOOM_SUPPORT_EMAIL L".",
        L"Qualcosa è andato storto (%s). Riprova; se succede di nuovo, scrivici "
        L"a " SKYLOOM_SUPPORT_EMAIL L".",
        L"Il file di log si trova in %s",
    },
}};

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
        L"The server's name couldn't be found: check that this computer is connected to the "
        L"internet.",
        L"The server couldn't be reached or the connection broke off: a firewall or a proxy may be "
        L"in the way.",
        L"The secure connection to the server isn't trusted: a network that inspects secure "
        L"connections, or a missing root certificate, can cause this.",
        L"The server's certificate isn't valid on this computer's date: check the clock and the "
        L"date.",
        L"Your network's proxy asks for a sign-in that this setup doesn't give: use the full "
        L"installer instead.",
        L"The server refused the download: try again later.",
        L"Your antivirus blocked or removed the file: look in its quarantine or its history.",
        L"A policy on this computer keeps the program from running: ask whoever manages it.",
        L"Another program is using the file: close it and try again.",
        L"The server's answers didn't fit together: the file may have changed on the server. Try "
        L"again later, or use the full installer.",
        L"The secure connection to the server couldn't be set up: a device on the network may be "
        L"breaking it, or this computer and the server share no secure protocol.",
        L"Download the full installer",
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
        L"Não foi possível encontrar o nome do servidor: verifica se o computador está ligado à "
        L"internet.",
        L"Não foi possível chegar ao servidor, ou a ligação caiu: uma firewall ou um proxy podem "
        L"estar no caminho.",
        L"A ligação segura ao servidor não é de confiança: uma rede que inspeciona as ligações "
        L"seguras, ou um certificado de raiz em falta, pode causar isto.",
        L"O certificado do servidor não é válido na data deste computador: verifica o relógio e a "
        L"data.",
        L"O proxy da tua rede pede uma autenticação que este instalador não dá: usa antes o "
        L"instalador completo.",
        L"O servidor recusou a transferência: tenta novamente mais tarde.",
        L"O antivírus bloqueou ou removeu o ficheiro: vê a quarentena ou o histórico dele.",
        L"Uma política deste computador não deixa o programa ser executado: fala com quem o gere.",
        L"Outro programa está a usar o ficheiro: fecha-o e tenta novamente.",
        L"As respostas do servidor não batem certo: o ficheiro pode ter mudado no servidor. Tenta "
        L"novamente mais tarde, ou usa o instalador completo.",
        L"Não foi possível estabelecer a ligação segura ao servidor: um aparelho da rede pode "
        L"estar "
        L"a interrompê-la, ou este computador e o servidor não têm um protocolo seguro em comum.",
        L"Descarregar o instalador completo",
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
        L"No se encontró el nombre del servidor: comprueba que el equipo está conectado a "
        L"internet.",
        L"No se pudo llegar al servidor o se cortó la conexión: puede que un cortafuegos o un "
        L"proxy la estén bloqueando.",
        L"La conexión segura con el servidor no es de confianza: puede deberse a una red que "
        L"inspecciona las conexiones seguras o a que falta un certificado raíz.",
        L"El certificado del servidor no es válido en la fecha de este equipo: comprueba la hora y "
        L"la fecha.",
        L"El proxy de tu red pide un inicio de sesión que este instalador no da: usa el instalador "
        L"completo.",
        L"El servidor rechazó la descarga: inténtalo de nuevo más tarde.",
        L"Tu antivirus bloqueó o eliminó el archivo: revisa su cuarentena o su historial.",
        L"Una directiva de este equipo impide que se ejecute el programa: pregunta a quien lo "
        L"administra.",
        L"Otro programa está usando el archivo: ciérralo e inténtalo de nuevo.",
        L"Las respuestas del servidor no concuerdan: puede que el archivo haya cambiado en el "
        L"servidor. Inténtalo más tarde o usa el instalador completo.",
        L"No se pudo establecer la conexión segura con el servidor: un dispositivo de la red puede "
        L"estar cortándola, o este equipo y el servidor no comparten ningún protocolo seguro.",
        L"Descargar el instalador completo",
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
        L"Le nom du serveur est introuvable : vérifie que l'ordinateur est connecté à internet.",
        L"Le serveur est injoignable ou la connexion a été coupée : un pare-feu ou un proxy la "
        L"bloque peut-être.",
        L"La connexion sécurisée au serveur n'est pas fiable : un réseau qui inspecte les "
        L"connexions sécurisées, ou un certificat racine manquant, peut en être la cause.",
        L"Le certificat du serveur n'est pas valide à la date de cet ordinateur : vérifie l'heure "
        L"et la date.",
        L"Le proxy de ton réseau demande une identification que ce programme ne donne pas : "
        L"utilise plutôt l'installateur complet.",
        L"Le serveur a refusé le téléchargement : réessaie plus tard.",
        L"Ton antivirus a bloqué ou supprimé le fichier : regarde dans sa quarantaine ou son "
        L"historique.",
        L"Une stratégie de cet ordinateur empêche le programme de s'exécuter : demande à la "
        L"personne qui le gère.",
        L"Un autre programme utilise le fichier : ferme-le et réessaie.",
        L"Les réponses du serveur ne concordent pas : le fichier a peut-être changé sur le "
        L"serveur. "
        L"Réessaie plus tard, ou utilise l'installateur complet.",
        L"La connexion sécurisée au serveur n'a pas pu être établie : un appareil du réseau la "
        L"coupe peut-être, ou cet ordinateur et le serveur n'ont aucun protocole sécurisé en "
        L"commun.",
        L"Télécharger l'installateur complet",
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
        L"Der Name des Servers wurde nicht gefunden: Prüfe, ob der Computer mit dem Internet "
        L"verbunden ist.",
        L"Der Server ist nicht erreichbar oder die Verbindung ist abgebrochen: Vielleicht steht "
        L"eine Firewall oder ein Proxy im Weg.",
        L"Der sicheren Verbindung zum Server wird nicht vertraut: Ein Netzwerk, das sichere "
        L"Verbindungen prüft, oder ein fehlendes Stammzertifikat kann die Ursache sein.",
        L"Das Zertifikat des Servers ist zum Datum dieses Computers nicht gültig: Prüfe Uhrzeit "
        L"und Datum.",
        L"Der Proxy deines Netzwerks verlangt eine Anmeldung, die dieses Setup nicht gibt: Nimm "
        L"stattdessen das vollständige Installationsprogramm.",
        L"Der Server hat den Download abgelehnt: Versuche es später erneut.",
        L"Dein Virenschutz hat die Datei blockiert oder entfernt: Sieh in seiner Quarantäne oder "
        L"seinem Verlauf nach.",
        L"Eine Richtlinie auf diesem Computer verhindert, dass das Programm ausgeführt wird: Frag "
        L"die Person, die ihn verwaltet.",
        L"Ein anderes Programm verwendet die Datei: Schließe es und versuche es erneut.",
        L"Die Antworten des Servers passen nicht zusammen: Die Datei hat sich auf dem Server "
        L"vielleicht geändert. Versuche es später erneut oder verwende das vollständige "
        L"Installationsprogramm.",
        L"Die sichere Verbindung zum Server konnte nicht aufgebaut werden: Ein Gerät im Netzwerk "
        L"unterbricht sie vielleicht, oder dieser Computer und der Server haben kein gemeinsames "
        L"sicheres Protokoll.",
        L"Vollständiges Installationsprogramm herunterladen",
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
        L"Il nome del server non è stato trovato: controlla che il computer sia connesso a "
        L"internet.",
        L"Il server non è raggiungibile o la connessione si è interrotta: forse un firewall o un "
        L"proxy si mettono di mezzo.",
        L"La connessione sicura al server non è attendibile: può dipendere da una rete che "
        L"ispeziona le connessioni sicure o da un certificato radice mancante.",
        L"Il certificato del server non è valido alla data di questo computer: controlla l'ora e "
        L"la data.",
        L"Il proxy della tua rete chiede un accesso che questo programma non fornisce: usa invece "
        L"il programma di installazione completo.",
        L"Il server ha rifiutato il download: riprova più tardi.",
        L"L'antivirus ha bloccato o rimosso il file: controlla la sua quarantena o la cronologia.",
        L"Un criterio di questo computer impedisce l'esecuzione del programma: chiedi a chi lo "
        L"gestisce.",
        L"Un altro programma sta usando il file: chiudilo e riprova.",
        L"Le risposte del server non corrispondono: il file potrebbe essere cambiato sul server. "
        L"Riprova più tardi, oppure usa il programma di installazione completo.",
        L"Non è stato possibile stabilire la connessione sicura al server: un dispositivo della "
        L"rete "
        L"potrebbe interromperla, o questo computer e il server non hanno un protocollo sicuro in "
        L"comune.",
        L"Scarica il programma di installazione completo",
    },
}};

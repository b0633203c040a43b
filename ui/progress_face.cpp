#include "ui/progress_face.h"

#include "base/wide_format.h"
#include "ui/message_catalog.h"

#include <algorithm>

namespace {

const wchar_t* const kBlankContent = L" ";

std::intptr_t textParam(const wchar_t* text) {
    return reinterpret_cast<std::intptr_t>(text);
}

void send(const MessageSink& sink, std::uint32_t message, std::uintptr_t wParam,
          std::intptr_t lParam) {
    sink.send(sink.context, message, wParam, lParam);
}

void startMarquee(const MessageSink& sink) {
    send(sink, kTdmSetProgressBarMarquee, 1, kMarqueeIntervalMilliseconds);
}

void setContent(const MessageSink& sink, ProgressFace& face, const wchar_t* text,
                std::size_t length) {
    send(sink, kTdmSetElementText, kTdeContent, textParam(text));
    face.laidOutLength = length;
}

void showBytes(const MessageSink& sink, ProgressFace& face, const MessageCatalog& catalog,
               std::int64_t downloaded, std::int64_t total) {
    send(sink, kTdmSetProgressBarPos,
         static_cast<std::uintptr_t>(progressPosition(downloaded, total)), 0);
    wchar_t line[kProgressTextCapacity] = {};
    const std::size_t length = formatProgressLine(line, catalog, downloaded, total);
    if (length > face.laidOutLength) {
        setContent(sink, face, line, length);
    } else {
        send(sink, kTdmUpdateElementText, kTdeContent, textParam(line));
    }
}

} // namespace

std::int64_t progressPosition(std::int64_t downloaded, std::int64_t total) {
    // A bar cannot pass its ends, whatever the counts say between two reads.
    if (downloaded <= 0) {
        return 0;
    }
    if (downloaded >= total) {
        return kProgressScale;
    }
    if (downloaded > INT64_MAX / kProgressScale) {
        // Beyond any real size; only the product must not overflow.
        return std::min<std::int64_t>(downloaded / (total / kProgressScale), kProgressScale - 1);
    }
    return downloaded * kProgressScale / total;
}

std::size_t formatProgressLine(wchar_t (&buffer)[kProgressTextCapacity],
                               const MessageCatalog& catalog, std::int64_t downloaded,
                               std::int64_t total) {
    return formatWide(buffer, catalog.progressFormat, static_cast<long long>(downloaded >> 20),
                      static_cast<long long>(total >> 20));
}

void progressCreated(const MessageSink& sink, ProgressFace& face) {
    startMarquee(sink);
    face.lastShownPhase = JobPhase::Connecting;
    face.laidOutLength = 1; // the one space of the configuration
}

bool progressTick(const MessageSink& sink, ProgressFace& face, const MessageCatalog& catalog,
                  JobPhase phase, std::int64_t total, std::int64_t downloaded) {
    using enum JobPhase;
    if (phase == Succeeded || phase == Failed) {
        return true;
    }
    if (phase != face.lastShownPhase) {
        face.lastShownPhase = phase;
        const wchar_t* instruction = phase == Downloading ? catalog.downloadingText
                                     : phase == Verifying ? catalog.checkingText
                                                          : catalog.connectingText;
        send(sink, kTdmSetElementText, kTdeMainInstruction, textParam(instruction));
        if (phase != Downloading) {
            send(sink, kTdmSetMarqueeProgressBar, 1, 0);
            startMarquee(sink);
            setContent(sink, face, kBlankContent, 1);
            return false;
        }
        send(sink, kTdmSetMarqueeProgressBar, 0, 0);
        send(sink, kTdmSetProgressBarRange, 0, kProgressRangeParam);
    } else if (phase != Downloading) {
        return false;
    }
    if (total > 0) {
        showBytes(sink, face, catalog, downloaded, total);
    }
    return false;
}

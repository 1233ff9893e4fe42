// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <freerdp/client/cliprdr.h>

#include <functional>
#include <mutex>
#include <string>

namespace vandrelle {

// Text on the clipboard channel, both ways. The engine calls it on its
// channel thread; SetLocalText may come from any thread. Texts are UTF-8
// with LF line ends here and UTF-16 with CR LF on the wire.
class ClipboardChannel {
public:
    // `remoteText` receives the server's clipboard text (on the channel thread).
    explicit ClipboardChannel(std::function<void(std::string)> remoteText)
        : m_remoteText(std::move(remoteText)) {}

    void Attach(CliprdrClientContext* context);
    void Detach(CliprdrClientContext* context);

    // The local clipboard changed: offer its text to the server.
    void SetLocalText(std::string text);

private:
    static ClipboardChannel& Of(CliprdrClientContext* context) {
        return *static_cast<ClipboardChannel*>(context->custom);
    }
    static UINT MonitorReady(CliprdrClientContext* context, const CLIPRDR_MONITOR_READY*);
    static UINT ServerCapabilities(CliprdrClientContext*, const CLIPRDR_CAPABILITIES*);
    static UINT ServerFormatList(CliprdrClientContext* context, const CLIPRDR_FORMAT_LIST* list);
    static UINT ServerFormatListResponse(CliprdrClientContext*,
                                         const CLIPRDR_FORMAT_LIST_RESPONSE*);
    static UINT ServerFormatDataRequest(CliprdrClientContext* context,
                                        const CLIPRDR_FORMAT_DATA_REQUEST* request);
    static UINT ServerFormatDataResponse(CliprdrClientContext* context,
                                         const CLIPRDR_FORMAT_DATA_RESPONSE* response);
    UINT AnnounceLocal(CliprdrClientContext* context);

    std::function<void(std::string)> m_remoteText;
    std::mutex m_mutex;  // guards the fields below
    CliprdrClientContext* m_context = nullptr;
    bool m_ready = false;  // the server's monitor is ready
    std::string m_local;
    bool m_hasLocal = false;
};

}  // namespace vandrelle

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ClipboardChannel.h"

#include <freerdp/channels/cliprdr.h>
#include <winpr/string.h>
#include <winpr/user.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace vandrelle {
namespace {

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    std::string out;
    std::size_t pos = 0;
    for (std::size_t at; (at = text.find(from, pos)) != std::string::npos; pos = at + from.size()) {
        out.append(text, pos, at - pos);
        out += to;
    }
    out.append(text, pos);
    return out;
}

// UTF-16 with CR LF line ends and a terminating NUL, as the clipboard keeps text.
std::vector<BYTE> ToWire(const std::string& text) {
    const std::string crlf = Replace(Replace(text, "\r\n", "\n"), "\n", "\r\n");
    size_t length = 0;
    WCHAR* wide = ConvertUtf8NToWCharAlloc(crlf.data(), crlf.size(), &length);
    std::vector<BYTE> bytes;
    if (wide) {
        const auto* p = reinterpret_cast<const BYTE*>(wide);
        bytes.assign(p, p + (length + 1) * sizeof(WCHAR));
        free(wide);
    }
    return bytes;
}

std::string FromWire(const BYTE* data, size_t size) {
    const auto* wide = reinterpret_cast<const WCHAR*>(data);
    size_t units = size / sizeof(WCHAR);
    for (size_t i = 0; i < units; ++i) {
        if (wide[i] == 0) {
            units = i;
            break;
        }
    }
    size_t length = 0;
    char* utf8 = ConvertWCharNToUtf8Alloc(wide, units, &length);
    std::string text = utf8 ? std::string(utf8, length) : std::string();
    free(utf8);
    return Replace(text, "\r\n", "\n");
}

}  // namespace

void ClipboardChannel::Attach(CliprdrClientContext* context) {
    std::lock_guard lock(m_mutex);
    m_context = context;
    m_ready = false;
    context->custom = this;
    context->MonitorReady = MonitorReady;
    context->ServerCapabilities = ServerCapabilities;
    context->ServerFormatList = ServerFormatList;
    context->ServerFormatListResponse = ServerFormatListResponse;
    context->ServerFormatDataRequest = ServerFormatDataRequest;
    context->ServerFormatDataResponse = ServerFormatDataResponse;
}

void ClipboardChannel::Detach(CliprdrClientContext* context) {
    std::lock_guard lock(m_mutex);
    if (m_context == context) m_context = nullptr;
    m_ready = false;
    context->custom = nullptr;
}

void ClipboardChannel::SetLocalText(std::string text) {
    CliprdrClientContext* context = nullptr;
    {
        std::lock_guard lock(m_mutex);
        if (m_hasLocal && m_local == text) return;
        m_local = std::move(text);
        m_hasLocal = true;
        if (m_ready) context = m_context;
    }
    if (context) AnnounceLocal(context);
}

UINT ClipboardChannel::AnnounceLocal(CliprdrClientContext* context) {
    CLIPRDR_FORMAT format{};
    format.formatId = CF_UNICODETEXT;
    CLIPRDR_FORMAT_LIST list{};
    list.common.msgType = CB_FORMAT_LIST;
    {
        std::lock_guard lock(m_mutex);
        list.numFormats = m_hasLocal ? 1 : 0;
    }
    list.formats = &format;
    return context->ClientFormatList(context, &list);
}

UINT ClipboardChannel::MonitorReady(CliprdrClientContext* context, const CLIPRDR_MONITOR_READY*) {
    CLIPRDR_GENERAL_CAPABILITY_SET general{};
    general.capabilitySetType = CB_CAPSTYPE_GENERAL;
    general.capabilitySetLength = 12;
    general.version = CB_CAPS_VERSION_2;
    general.generalFlags = CB_USE_LONG_FORMAT_NAMES;
    CLIPRDR_CAPABILITIES caps{};
    caps.cCapabilitiesSets = 1;
    caps.capabilitySets = reinterpret_cast<CLIPRDR_CAPABILITY_SET*>(&general);
    if (const UINT rc = context->ClientCapabilities(context, &caps); rc != CHANNEL_RC_OK) {
        return rc;
    }
    ClipboardChannel& self = Of(context);
    {
        std::lock_guard lock(self.m_mutex);
        self.m_ready = true;
    }
    return self.AnnounceLocal(context);
}

UINT ClipboardChannel::ServerCapabilities(CliprdrClientContext*, const CLIPRDR_CAPABILITIES*) {
    return CHANNEL_RC_OK;
}

UINT ClipboardChannel::ServerFormatList(CliprdrClientContext* context,
                                        const CLIPRDR_FORMAT_LIST* list) {
    CLIPRDR_FORMAT_LIST_RESPONSE response{};
    response.common.msgType = CB_FORMAT_LIST_RESPONSE;
    response.common.msgFlags = CB_RESPONSE_OK;
    if (const UINT rc = context->ClientFormatListResponse(context, &response);
        rc != CHANNEL_RC_OK) {
        return rc;
    }
    for (UINT32 i = 0; i < list->numFormats; ++i) {
        if (list->formats[i].formatId == CF_UNICODETEXT) {
            CLIPRDR_FORMAT_DATA_REQUEST request{};
            request.common.msgType = CB_FORMAT_DATA_REQUEST;
            request.requestedFormatId = CF_UNICODETEXT;
            return context->ClientFormatDataRequest(context, &request);
        }
    }
    return CHANNEL_RC_OK;
}

UINT ClipboardChannel::ServerFormatListResponse(CliprdrClientContext*,
                                                const CLIPRDR_FORMAT_LIST_RESPONSE*) {
    return CHANNEL_RC_OK;
}

UINT ClipboardChannel::ServerFormatDataRequest(CliprdrClientContext* context,
                                               const CLIPRDR_FORMAT_DATA_REQUEST* request) {
    ClipboardChannel& self = Of(context);
    std::vector<BYTE> data;
    {
        std::lock_guard lock(self.m_mutex);
        if (request->requestedFormatId == CF_UNICODETEXT && self.m_hasLocal) {
            data = ToWire(self.m_local);
        }
    }
    // Every request gets an answer; a failed one when there is nothing to give.
    CLIPRDR_FORMAT_DATA_RESPONSE response{};
    response.common.msgType = CB_FORMAT_DATA_RESPONSE;
    response.common.msgFlags = data.empty() ? CB_RESPONSE_FAIL : CB_RESPONSE_OK;
    response.common.dataLen = static_cast<UINT32>(data.size());
    response.requestedFormatData = data.empty() ? nullptr : data.data();
    return context->ClientFormatDataResponse(context, &response);
}

UINT ClipboardChannel::ServerFormatDataResponse(CliprdrClientContext* context,
                                                const CLIPRDR_FORMAT_DATA_RESPONSE* response) {
    if (response->common.msgFlags != CB_RESPONSE_OK || !response->requestedFormatData) {
        return CHANNEL_RC_OK;
    }
    ClipboardChannel& self = Of(context);
    std::string text = FromWire(response->requestedFormatData, response->common.dataLen);
    {
        std::lock_guard lock(self.m_mutex);
        // What the server now holds is what we hold: no need to offer it back.
        self.m_local = text;
        self.m_hasLocal = true;
    }
    self.m_remoteText(std::move(text));
    return CHANNEL_RC_OK;
}

}  // namespace vandrelle

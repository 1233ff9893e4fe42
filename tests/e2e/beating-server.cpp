// SPDX-License-Identifier: GPL-3.0-or-later
// vandrelle-beating-server ADDRESS PORT CERTIFICATE KEY: an RDP server that
// takes any log-on over TLS, shows nothing, and sends each activated client a
// heartbeat every second, announcing that a client should reconnect after
// three missed beats. A test peer for a server that stops beating (frozen).
#include <freerdp/crypto/certificate.h>
#include <freerdp/crypto/privatekey.h>
#include <freerdp/freerdp.h>
#include <freerdp/heartbeat.h>
#include <freerdp/listener.h>
#include <freerdp/peer.h>
#include <freerdp/settings.h>
#include <winpr/synch.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

const char* g_certificate = nullptr;
const char* g_key = nullptr;
std::vector<freerdp_peer*> g_peers;

BOOL Agreed(freerdp_peer*) {
    return TRUE;
}

BOOL Accepted(freerdp_listener*, freerdp_peer* peer) {
    peer->ContextSize = sizeof(rdpContext);
    if (!freerdp_peer_context_new(peer)) return FALSE;
    rdpSettings* settings = peer->context->settings;
    rdpCertificate* certificate = freerdp_certificate_new_from_file(g_certificate);
    rdpPrivateKey* key = freerdp_key_new_from_file(g_key);
    if (!certificate || !key ||
        !freerdp_settings_set_pointer_len(settings, FreeRDP_RdpServerCertificate, certificate, 1) ||
        !freerdp_settings_set_pointer_len(settings, FreeRDP_RdpServerRsaKey, key, 1) ||
        !freerdp_settings_set_bool(settings, FreeRDP_RdpSecurity, FALSE) ||
        !freerdp_settings_set_bool(settings, FreeRDP_NlaSecurity, FALSE) ||
        !freerdp_settings_set_bool(settings, FreeRDP_TlsSecurity, TRUE))
        return FALSE;
    peer->PostConnect = Agreed;
    peer->Activate = Agreed;
    if (!peer->Initialize(peer)) return FALSE;
    g_peers.push_back(peer);
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) return 2;  // see the usage above
    g_certificate = argv[3];
    g_key = argv[4];
    freerdp_listener* listener = freerdp_listener_new();
    listener->PeerAccepted = Accepted;
    if (!listener->Open(listener, argv[1], static_cast<UINT16>(std::atoi(argv[2])))) return 1;
    auto beat = std::chrono::steady_clock::now();
    for (;;) {
        HANDLE handles[MAXIMUM_WAIT_OBJECTS] = {};
        DWORD count = listener->GetEventHandles(listener, handles, 32);
        for (freerdp_peer* peer : g_peers)
            count += peer->GetEventHandles(peer, handles + count, 32 - count);
        WaitForMultipleObjects(count, handles, FALSE, 200);
        if (!listener->CheckFileDescriptor(listener)) return 1;
        const bool beatNow = std::chrono::steady_clock::now() - beat >= std::chrono::seconds(1);
        if (beatNow) beat = std::chrono::steady_clock::now();
        std::erase_if(g_peers, [beatNow](freerdp_peer* peer) {
            const bool alive = peer->CheckFileDescriptor(peer) &&
                               (!beatNow || !peer->activated ||
                                freerdp_heartbeat_send_heartbeat_pdu(peer, 1, 1, 3));
            if (!alive) {
                peer->Disconnect(peer);
                freerdp_peer_context_free(peer);
                freerdp_peer_free(peer);
            }
            return !alive;
        });
    }
}

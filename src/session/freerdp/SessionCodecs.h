// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's picture decoders, kept to those a session can be sent.
#pragma once

#include <freerdp/freerdp.h>

namespace vandrelle {

// At each connect the engine makes every decoder it has, each sized for the
// whole desktop, whether the session can be sent its format or not: about
// 21 MiB at 1024×768, most of it zeroed and so resident (and at the connect
// the process's peak). Without the graphics pipeline only bitmap updates and
// surface bits reach the client, so the pipeline's decoders (progressive,
// ClearCodec, H.264) are never used, and the planar decoder only sees the
// bitmaps of those updates: tiles of 64×64 from the servers known, though a
// bitmap may be as large as the desktop. Worker thread only.
class SessionCodecs {
public:
    // Before the connect: without the graphics pipeline, the engine is told
    // to leave its decoders to the client. That also leaves out its caches,
    // so MakeLean must end it before the connection goes on: at its TCP connect.
    void Defer(rdpContext* context);
    // At the connect's TCP connect: ends what Defer began and makes the
    // decoders a session without the pipeline uses (the planar one for a
    // tile). False where they cannot be made.
    bool MakeLean(rdpContext* context);

    // After a connect or a resumed link: where the engine made its own
    // decoders (the link's, or a redirected connect's), the same cut, for a
    // session without the pipeline.
    void Trim(rdpContext* context);

    // Makes the planar decoder large enough for a bitmap of that size before
    // it is decoded; false where it cannot be grown.
    bool Fit(rdpContext* context, UINT32 width, UINT32 height);

    static constexpr UINT32 kTile = 64;

private:
    bool UsesPipeline(rdpContext* context) const;
    bool MakeTilePlanar(rdpCodecs* codecs);

    bool m_deferred = false;
    // The planar decoder made here and its size; one the engine made since
    // is another one, of the desktop's size.
    const void* m_planar = nullptr;
    UINT32 m_width = 0;
    UINT32 m_height = 0;
};

}  // namespace vandrelle

// SPDX-License-Identifier: GPL-3.0-or-later
#include "SessionCodecs.h"

#include <freerdp/codec/clear.h>
#include <freerdp/codec/h264.h>
#include <freerdp/codec/planar.h>
#include <freerdp/codec/progressive.h>
#include <freerdp/codecs.h>
#include <freerdp/settings.h>

#include <algorithm>

namespace vandrelle {

namespace {

// The decoders only the graphics pipeline uses, and the planar one, which
// is made apart (for a tile).
constexpr UINT32 kNotMadeAtOnce = FREERDP_CODEC_PLANAR | FREERDP_CODEC_CLEARCODEC |
                                  FREERDP_CODEC_ALPHACODEC | FREERDP_CODEC_PROGRESSIVE |
                                  FREERDP_CODEC_AVC420 | FREERDP_CODEC_AVC444;

}  // namespace

bool SessionCodecs::UsesPipeline(rdpContext* context) const {
    return freerdp_settings_get_bool(context->settings, FreeRDP_SupportGraphicsPipeline);
}

void SessionCodecs::Defer(rdpContext* context) {
    m_deferred = !UsesPipeline(context);
    if (m_deferred)
        freerdp_settings_set_bool(context->settings, FreeRDP_DeactivateClientDecoding, TRUE);
}

bool SessionCodecs::MakeLean(rdpContext* context) {
    if (!m_deferred) return true;  // the engine made its own, or this was done already
    m_deferred = false;
    rdpSettings* settings = context->settings;
    freerdp_settings_set_bool(settings, FreeRDP_DeactivateClientDecoding, FALSE);
    if (!context->codecs) {
        context->codecs = freerdp_client_codecs_new(
            freerdp_settings_get_uint32(settings, FreeRDP_ThreadingFlags));
    }
    return context->codecs &&
           freerdp_client_codecs_prepare(
               context->codecs, freerdp_settings_get_codecs_flags(settings) & ~kNotMadeAtOnce,
               freerdp_settings_get_uint32(settings, FreeRDP_DesktopWidth),
               freerdp_settings_get_uint32(settings, FreeRDP_DesktopHeight)) &&
           MakeTilePlanar(context->codecs);
}

// The engine's decoders are told by the pipeline's among them (MakeLean never
// makes those): a planar decoder's address may be one freed before.
void SessionCodecs::Trim(rdpContext* context) {
    rdpCodecs* codecs = context->codecs;
    if (!codecs || !codecs->progressive || UsesPipeline(context)) return;
    progressive_context_free(codecs->progressive);
    codecs->progressive = nullptr;
    clear_context_free(codecs->clear);
    codecs->clear = nullptr;
    h264_context_free(codecs->h264);
    codecs->h264 = nullptr;
    MakeTilePlanar(codecs);
}

// A decoder keeps its buffers when reset to a smaller size: a new one replaces it.
bool SessionCodecs::MakeTilePlanar(rdpCodecs* codecs) {
    BITMAP_PLANAR_CONTEXT* tile = freerdp_bitmap_planar_context_new(0, kTile, kTile);
    if (!tile) return false;
    freerdp_bitmap_planar_context_free(codecs->planar);
    codecs->planar = tile;
    m_planar = tile;
    m_width = m_height = kTile;
    return true;
}

bool SessionCodecs::Fit(rdpContext* context, UINT32 width, UINT32 height) {
    BITMAP_PLANAR_CONTEXT* planar = context->codecs ? context->codecs->planar : nullptr;
    if (!planar || planar != m_planar || (width <= m_width && height <= m_height)) return true;
    const UINT32 w = std::max(width, m_width), h = std::max(height, m_height);
    if (!freerdp_bitmap_planar_context_reset(planar, w, h)) return false;
    m_width = w;
    m_height = h;
    return true;
}

}  // namespace vandrelle

#pragma once

#include "base/Owned.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace brontide::linux::ffmpeg {

// FFmpeg's free functions take the address of the pointer.
inline void freeCodecContext(AVCodecContext* p) noexcept { avcodec_free_context(&p); }
inline void freeFrame(AVFrame* p) noexcept { av_frame_free(&p); }
inline void freePacket(AVPacket* p) noexcept { av_packet_free(&p); }

using CodecContext = Owned<AVCodecContext, freeCodecContext>;
using Frame = Owned<AVFrame, freeFrame>;
using Packet = Owned<AVPacket, freePacket>;

}  // namespace brontide::linux::ffmpeg

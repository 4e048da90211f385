#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace brontide::ffmpeg {

template <auto Free>
struct FreeWith {
  template <class T>
  void operator()(T* p) const noexcept {
    Free(p);
  }
};
template <class T, auto Free>
using Owned = std::unique_ptr<T, FreeWith<Free>>;

// FFmpeg's free functions take the address of the pointer.
inline void freeCodecContext(AVCodecContext* p) noexcept { avcodec_free_context(&p); }
inline void freeFrame(AVFrame* p) noexcept { av_frame_free(&p); }
inline void freePacket(AVPacket* p) noexcept { av_packet_free(&p); }

using CodecContext = Owned<AVCodecContext, freeCodecContext>;
using Frame = Owned<AVFrame, freeFrame>;
using Packet = Owned<AVPacket, freePacket>;

}  // namespace brontide::ffmpeg

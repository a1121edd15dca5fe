#include "bench/wuffs_gif.h"

#include <cstdlib>

#include "wuffs-v0.3.c"

struct WuffsGif::Decoder {
    std::unique_ptr<wuffs_gif__decoder, decltype(&free)> state{wuffs_gif__decoder__alloc(), &free};
};

WuffsGif::WuffsGif() : decoder_(new Decoder) {}
WuffsGif::~WuffsGif() = default;

const char* WuffsGif::DecodeFirstImage(std::string& bytes) {
    wuffs_gif__decoder* dec = decoder_->state.get();
    wuffs_base__status st = wuffs_gif__decoder__initialize(dec, sizeof__wuffs_gif__decoder(), WUFFS_VERSION,
                                                           WUFFS_INITIALIZE__LEAVE_INTERNAL_BUFFERS_UNINITIALIZED);
    wuffs_base__io_buffer src = wuffs_base__ptr_u8__reader(reinterpret_cast<uint8_t*>(&bytes[0]), bytes.size(), true);
    wuffs_base__image_config ic = {};
    if (st.repr == nullptr) st = wuffs_gif__decoder__decode_image_config(dec, &ic, &src);
    if (st.repr != nullptr) return st.repr;
    uint32_t w = wuffs_base__pixel_config__width(&ic.pixcfg), h = wuffs_base__pixel_config__height(&ic.pixcfg);
    wuffs_base__pixel_config__set(&ic.pixcfg, WUFFS_BASE__PIXEL_FORMAT__INDEXED__BGRA_BINARY,
                                  WUFFS_BASE__PIXEL_SUBSAMPLING__NONE, w, h);
    size_t size = 1024 + static_cast<size_t>(w) * h;
    pixels_.reset(new uint8_t[size]);
    size_t work = wuffs_gif__decoder__workbuf_len(dec).max_incl;
    std::unique_ptr<uint8_t[]> workbuf(new uint8_t[work ? work : 1]);
    wuffs_base__pixel_buffer pb;
    st = wuffs_base__pixel_buffer__set_from_slice(&pb, &ic.pixcfg, wuffs_base__make_slice_u8(pixels_.get(), size));
    if (st.repr == nullptr)
        st = wuffs_gif__decoder__decode_frame(dec, &pb, &src, WUFFS_BASE__PIXEL_BLEND__SRC,
                                              wuffs_base__make_slice_u8(workbuf.get(), work), nullptr);
    return st.repr;
}

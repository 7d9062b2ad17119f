// An image opened in its format, for the walk: a P7B dump through the decoder that serves its
// simh form, any other container as it is.
#pragma once

#include <memory>

#include "common/hold.h"
#include "tape_image/format.h"
#include "tape_image/p7b.h"
#include "tape_image/source.h"

namespace reel::tape_image {

class ImageInput {
 public:
  // Reads `raw`, an image in `format`; a P7B dump's frames checked for `parity`, its parity
  // errors told to `listener` if there is one, long records held in `hold`.
  ImageInput(std::unique_ptr<InputSource> raw, Format format, Parity parity, Hold& hold,
             DumpListener* listener = nullptr)
      : raw_(std::move(raw)),
        dump_(format == Format::p7b ? std::make_unique<P7bSource>(*raw_, parity, hold, listener)
                                    : nullptr) {}

  // Returns the bytes the walk reads: the image's, or the dump's simh form.
  InputSource& source() { return dump_ ? static_cast<InputSource&>(*dump_) : *raw_; }
  // Returns the decoder of a P7B dump, or nullptr.
  P7bSource* dump() { return dump_.get(); }

 private:
  std::unique_ptr<InputSource> raw_;
  std::unique_ptr<P7bSource> dump_;
};

}  // namespace reel::tape_image

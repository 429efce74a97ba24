// The PNG files of resources/artwork/, turned into byte arrays by the build (embed-artwork.cmake).
#pragma once

#include <span>

namespace kf::artwork {

// The bytes of bitmap kFirstId + index; index in 0..kCount-1.
std::span<const unsigned char> embeddedPng(int index);

}  // namespace kf::artwork

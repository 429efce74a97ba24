// The editor's bitmaps: 49 PNG pictures, ids 1000 to 1048, compiled into the module so that the
// plug-in needs no loose files. They are drawn by the generator in generator/ and committed under
// resources/artwork/; the build turns those files into byte arrays.
#pragma once

#include <array>
#include <span>

namespace kf::artwork {

inline constexpr int kFirstId = 1000, kLastId = 1048;
inline constexpr int kCount = kLastId - kFirstId + 1;

// A bitmap's size; a strip of `frames` pictures stacked vertically has frames of
// width × (height / frames), frame k starting at y = k × height / frames.
struct BitmapInfo {
    int id, width, height, frames;  // frames = 1 for a single picture
};

// The one table of sizes and strip layouts: the generator draws to it, the tests check the
// embedded pictures against it, and the editor cuts strips by it.
inline constexpr std::array<BitmapInfo, kCount> kBitmaps{{
    {1000, 503, 404, 1},   {1001, 10, 80, 8},     {1002, 100, 30, 2}, {1003, 10, 80, 2},
    {1004, 161, 69, 1},    {1005, 50, 14, 1},     {1006, 51, 36, 3},  {1007, 90, 60, 5},
    {1008, 90, 60, 5},     {1009, 90, 36, 3},     {1010, 90, 48, 4},  {1011, 90, 36, 3},
    {1012, 90, 48, 4},     {1013, 389, 95, 1},    {1014, 216, 69, 1}, {1015, 10, 20, 2},
    {1016, 99, 51, 1},     {1017, 99, 51, 1},     {1018, 100, 30, 2}, {1019, 40, 42, 1},
    {1020, 30, 50, 5},     {1021, 161, 69, 1},    {1022, 43, 28, 2},  {1023, 30, 130, 13},
    {1024, 161, 69, 1},    {1025, 16, 32, 2},     {1026, 43, 56, 4},  {1027, 161, 69, 1},
    {1028, 161, 69, 1},    {1029, 168, 238, 1},   {1030, 215, 71, 1}, {1031, 103, 14, 1},
    {1032, 100, 20, 2},    {1033, 495, 273, 1},   {1034, 100, 30, 2}, {1035, 495, 273, 1},
    {1036, 29, 91, 7},     {1037, 35, 46, 2},     {1038, 35, 46, 2},  {1039, 38, 4864, 128},
    {1040, 38, 4864, 128}, {1041, 46, 5120, 128}, {1042, 40, 70, 1},  {1043, 185, 26, 1},
    {1044, 16, 7936, 128}, {1045, 13, 130, 2},    {1046, 13, 130, 2}, {1047, 13, 130, 2},
    {1048, 495, 96, 1},
}};

// The size and layout of bitmap `id`; nullptr outside kFirstId..kLastId.
const BitmapInfo* info(int id);
// The pictures stacked in bitmap `id` (1 for an unknown id), and the height of one (0).
int frameCount(int id);
int frameHeight(int id);

// The embedded PNG file of bitmap `id`; empty outside kFirstId..kLastId.
std::span<const unsigned char> png(int id);

}  // namespace kf::artwork

#include "effects/note_values.h"

namespace kf {
namespace {

// Names are display texts kept exactly as the product has always shown them.
constexpr NoteValue kFull[] = {
    {0.0, "Off"},      {16.0, "4 bars"}, {12.0, "3 bars"},  {8.0, "2 bars"},
    {6.0, "1.5 bars"}, {4.0, "bar"},     {3.0, "3//4 bar"}, {2.0, "1//2 bar"},
    {1.5, "3//8"},     {1.0, "1\\4"},    {0.75, "3//16"},   {0.5, "1//8"},
    {0.375, "3//32"},  {0.25, "1//16"},  {0.1875, "3//64"}, {0.125, "1//32"},
};

// Straight notes are the power-of-two lengths; the list holds no triplets, so the
// straight-and-triplet view equals the straight one; dotted lengths are 1.5 times a
// power of two (the "3//..." entries and "1.5 bars").
constexpr NoteValue kStraight[] = {
    {0.0, "Off"},  {16.0, "4 bars"}, {8.0, "2 bars"}, {4.0, "bar"},     {2.0, "1//2 bar"},
    {1.0, "1\\4"}, {0.5, "1//8"},    {0.25, "1//16"}, {0.125, "1//32"},
};
constexpr NoteValue kDotted[] = {
    {0.0, "Off"},      {16.0, "4 bars"},  {8.0, "2 bars"}, {6.0, "1.5 bars"}, {4.0, "bar"},
    {3.0, "3//4 bar"}, {2.0, "1//2 bar"}, {1.5, "3//8"},   {1.0, "1\\4"},     {0.75, "3//16"},
    {0.5, "1//8"},     {0.375, "3//32"},  {0.25, "1//16"}, {0.1875, "3//64"}, {0.125, "1//32"},
};

template <int32_t N>
constexpr NoteValueList makeList(const NoteValue (&entries)[N]) {
    return {entries, N, static_cast<float>(N), 1.0f / static_cast<float>(N)};
}

constexpr NoteValueSet kSet = {
    {makeList(kFull), makeList(kStraight), makeList(kStraight), makeList(kDotted)}};

}  // namespace

const NoteValueSet& sharedNoteValues() {
    return kSet;
}

}  // namespace kf

// What must hold for any profile file and any edit; shared by the property test and the
// fuzz target.
#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace tavrun::testing {

// A file made of section lines, key lines, comments, blanks, odd line ends and garbage.
std::string RandomProfile(std::mt19937& random);

// Sets a key chosen by `seed` in `content` and checks that it reads back, that every other
// key reads as before, and that setting it again changes nothing. "" when all holds.
std::string CheckEditInvariants(const std::string& content, uint32_t seed);

}  // namespace tavrun::testing

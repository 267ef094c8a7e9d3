// The near-optimal parse: the matches of every position of a stretch, then the cheapest path
// of literals and copies through it, priced by the code lengths the data is expected to get.
#pragma once

#include <cstdint>
#include <vector>

#include "encode_common.h"
#include "match_finder.h"

namespace tavrun::lzh::enc {

// The search and passes for one stretch.
struct Effort {
  int depth, nice, passes;
  bool whole;  // the stretch is the whole input
};

class OptimalParser {
 public:
  // Forgets the prices of an earlier stream.
  void Reset(const Params& params);
  // Parses [pos, pos + n) of the finder's buffer `effort.passes` times (once more for the first
  // stretch of a stream), each pass priced by the last one's result, and appends the commands
  // of the last pass to `out`. The prices found carry over to the next stretch. Returns the
  // bits the last pass's path costs at the prices it was found with.
  uint64_t ParseStretch(MatchFinder& mf, uint32_t pos, uint32_t n, const Effort& effort,
                        Commands& out);

 private:
  // The cheapest way found to a position of the stretch: its cost in bits and the last
  // command on the way (length 1: a literal). One record, so that a relaxation touches one
  // cache line.
  struct Step {
    uint32_t price;
    uint16_t length, distance;
  };
  // Bits each symbol is expected to cost, from the code lengths of a parse.
  struct Prices {
    uint32_t literal[256];
    uint32_t length[kMaxMatch + 1];  // by match length
    uint32_t position[32];           // by position symbol, extra bits included
  };

  void SetFlatPrices();
  void SetPrices(const Commands& c, size_t a, size_t b, bool whole);
  void CheapestPath(const MatchFinder& mf, uint32_t pos, uint32_t n);
  void AppendPath(const MatchFinder& mf, uint32_t pos, uint32_t n, Commands& out);

  int np_ = 0;
  Prices prices_{};
  bool priced_ = false;  // prices come from a parse of this stream
  std::vector<Step> steps_;
  std::vector<uint32_t> ends_;
};

}  // namespace tavrun::lzh::enc

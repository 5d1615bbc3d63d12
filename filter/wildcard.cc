#include "filter/wildcard.h"

#include <array>
#include <cstddef>
#include <cstdint>

#include "core/allocator.h"
#include "core/string.h"

namespace zentry {
namespace {

using detail::upper;

// The matcher walks the mask left to right. Between stars the walk is
// deterministic; at a star it searches the text for the byte that follows
// the star and restarts the walk at every candidate. The outcome of a walk
// depends only on its starting pair (text position, mask position), and the
// first walk that reaches the end of both decides the whole match, so every
// walk we come back from has failed. A star therefore remembers the lowest
// text position it has searched from ("frontier"): a later search from that
// position or beyond would only repeat failed walks. Each star scans each
// text position at most once and each candidate starts one walk, which
// bounds the work by text length x mask length; the pending searches sit on
// an explicit stack, one entry per star, so nothing recurses.

constexpr std::size_t noFrontier = SIZE_MAX;

// A search in progress: the walk restarts at mask position `next` for every
// text position below `end` whose byte equals `wanted`, and once more at the
// end of the text when `tryTextEnd` is set.
struct Search {
  std::size_t next;
  std::size_t end;
  std::uint32_t resume;  // mask position right after the star (or star + ?)
  unsigned char wanted;
  bool tryTextEnd;
};

// The mask sizes of ordinary rules fit here; longer masks take a heap block.
constexpr std::size_t inlineMaskLimit = 256;

enum class WalkEnd { match, mismatch, search };

class Matcher {
 public:
  Matcher(const unsigned char* text, std::size_t n, const unsigned char* mask, std::size_t k,
          std::size_t* frontier, Search* searches)
      : text_(text), n_(n), mask_(mask), k_(k), frontier_(frontier), searches_(searches) {
    for (std::size_t i = 0; i <= k_; ++i) frontier_[i] = noFrontier;
  }

  bool matches() {
    std::size_t t = 0;
    std::size_t m = 0;
    for (;;) {
      const WalkEnd end = walk(&t, &m);
      if (end == WalkEnd::match) return true;
      if (end == WalkEnd::search) startSearch(t, m);
      if (!resumeSearch(&t, &m)) return false;
    }
  }

 private:
  unsigned char textAt(std::size_t t) const { return t < n_ ? text_[t] : 0; }
  unsigned char maskAt(std::size_t m) const { return m < k_ ? mask_[m] : 0; }

  // Runs the walk from (*t, *m) up to its end or up to a star search, which
  // it describes as the search's start in *t and the resume position in *m.
  WalkEnd walk(std::size_t* t, std::size_t* m) const {
    std::size_t ti = *t;
    std::size_t mi = *m;
    while (mi < k_) {
      if (ti > n_) return WalkEnd::mismatch;
      unsigned char c = mask_[mi];
      if (c == '*') {
        if (mi == k_ - 1) return WalkEnd::match;
        if (mask_[mi + 1] == '*') {
          ++mi;
          continue;
        }
        if (mask_[mi + 1] == '?') {
          ++ti;
          ++mi;
        }
        *t = ti;
        *m = mi + 1;
        return WalkEnd::search;
      }
      if (c == '?') {
        ++ti;
        ++mi;
        continue;
      }
      if (c == '\\' && mi < k_ - 1) c = mask_[++mi];
      if (upper(textAt(ti)) != upper(c)) return WalkEnd::mismatch;
      ++ti;
      ++mi;
    }
    return ti == n_ ? WalkEnd::match : WalkEnd::mismatch;
  }

  // Pushes the search that starts at text position `from` and resumes the
  // walk at mask position `resume`, minus what earlier searches covered.
  void startSearch(std::size_t from, std::size_t resume) {
    // Past the end of the text (a star and question mark at the end of the
    // text) every walk fails at once.
    if (from > n_) return;
    std::size_t& frontier = frontier_[resume];
    if (frontier != noFrontier && frontier <= from) return;
    Search& search = searches_[depth_++];
    search.next = from;
    search.end = frontier == noFrontier ? n_ : frontier;
    search.resume = static_cast<std::uint32_t>(resume);
    search.wanted = upper(maskAt(resume));
    search.tryTextEnd = frontier == noFrontier;
    frontier = from;
  }

  // Picks the next walk to try from the innermost pending search; false when
  // none is left, that is when the text does not match.
  bool resumeSearch(std::size_t* t, std::size_t* m) {
    while (depth_ != 0) {
      Search& search = searches_[depth_ - 1];
      while (search.next < search.end) {
        const std::size_t s = search.next++;
        if (upper(text_[s]) == search.wanted) {
          *t = s;
          *m = search.resume;
          return true;
        }
      }
      if (search.tryTextEnd) {
        search.tryTextEnd = false;
        *t = n_;
        *m = search.resume;
        return true;
      }
      --depth_;
    }
    return false;
  }

  const unsigned char* text_;
  std::size_t n_;
  const unsigned char* mask_;
  std::size_t k_;
  std::size_t* frontier_;  // k + 1 entries, indexed by resume position
  Search* searches_;       // at most one pending search per star
  std::size_t depth_ = 0;
};

// Whether mask[from, k) holds no byte the walk reads as syntax.
bool plainBytes(const unsigned char* mask, std::size_t from, std::size_t k) {
  for (std::size_t i = from; i < k; ++i) {
    if (mask[i] == '*' || mask[i] == '?' || mask[i] == '\\') return false;
  }
  return true;
}

// Whether the last `size` bytes of the text equal `bytes` without letter
// case. The last byte is compared first: names mostly differ there.
bool endsWith(const unsigned char* text, std::size_t n, const unsigned char* bytes, std::size_t size) {
  if (n < size) return false;
  const unsigned char* end = text + (n - size);
  for (std::size_t i = size; i-- > 0;) {
    if (upper(end[i]) != upper(bytes[i])) return false;
  }
  return true;
}

int runMatcher(const unsigned char* text, std::size_t n, const unsigned char* maskBytes, std::size_t k) {
  // Each pending search belongs to a different star, so k entries suffice.
  if (k <= inlineMaskLimit) {
    std::size_t frontier[inlineMaskLimit + 1];
    Search searches[inlineMaskLimit];
    return Matcher(text, n, maskBytes, k, frontier, searches).matches() ? 0 : 1;
  }
  void* block = allocateBytes((k + 1) * sizeof(std::size_t) + k * sizeof(Search));
  // Without room to remember its searches the matcher cannot bound its work;
  // a mask this long (only possible outside the rule file's line limit) then
  // matches nothing.
  if (block == nullptr) return 1;
  auto* frontier = static_cast<std::size_t*>(block);
  auto* searches = reinterpret_cast<Search*>(frontier + k + 1);
  const bool matched = Matcher(text, n, maskBytes, k, frontier, searches).matches();
  releaseBytes(block);
  return matched ? 0 : 1;
}

}  // namespace

int charEqualNoCase(unsigned char left, unsigned char right) { return upper(left) == upper(right) ? 1 : 0; }

int String::wildcardMismatch(const String& mask) const { return PreparedMask(mask).mismatch(*this); }

// The forms, and why each answer equals the general walk's:
// - anyText: a run of stars acts as its last star, and a last star matches
//   whatever text remains, the empty text included.
// - plain: every mask byte is compared with the text byte at the same
//   position, and the walk ends in a match only at the end of the text.
// - starTail ("*.exe"): the search after the star restarts at every byte
//   equal to the tail's first and the rest must then match literally up to
//   the end of the text, so exactly the texts ending in the tail match.
PreparedMask::PreparedMask(const String& mask) : mask_(mask), form_(Form::general) {
  const std::size_t k = mask.length();
  const auto* bytes = reinterpret_cast<const unsigned char*>(mask.cStr());
  std::size_t stars = 0;
  while (stars < k && bytes[stars] == '*') ++stars;
  if (k == 0) {
    form_ = Form::empty;
  } else if (stars == k) {
    form_ = Form::anyText;
  } else if (stars <= 1 && plainBytes(bytes, stars, k)) {
    form_ = stars == 0 ? Form::plain : Form::starTail;
    plain_ = bytes + stars;
    plainSize_ = static_cast<std::uint32_t>(k - stars);
    lastUpper_ = upper(bytes[k - 1]);
  }
}

int PreparedMask::mismatchInFull(const String& text) const {
  const std::size_t n = text.length();
  const auto* textBytes = reinterpret_cast<const unsigned char*>(text.cStr());
  switch (form_) {
    case Form::empty:
      return n == 0 ? 0 : 1;
    case Form::anyText:
      return 0;
    case Form::plain:
      return n == plainSize_ && endsWith(textBytes, n, plain_, plainSize_) ? 0 : 1;
    case Form::starTail:
      return endsWith(textBytes, n, plain_, plainSize_) ? 0 : 1;
    case Form::general:
      break;
  }
  return runMatcher(textBytes, n, reinterpret_cast<const unsigned char*>(mask_.cStr()), mask_.length());
}

}  // namespace zentry

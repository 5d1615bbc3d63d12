// The matcher on hostile and on ordinary input. Hostile cases must stay in
// milliseconds; the ordinary case is measured against the plain reference.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "core/string.h"
#include "support/wildcard_oracle.h"

namespace {

using zentry::String;

void starExtensionOverDots(benchmark::State& state) {
  const String name(std::string(1 << 20, '.').c_str());
  const String mask("*.exe");
  for (auto _ : state) benchmark::DoNotOptimize(name.wildcardMismatch(mask));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(starExtensionOverDots)->Unit(benchmark::kMillisecond);

void twentyStarsOverLetters(benchmark::State& state) {
  const String subject(std::string(64 * 1024, 'a').c_str());
  std::string mask;
  for (int i = 0; i < 19; ++i) mask += "*a";
  mask += "*b";
  const String maskString(mask.c_str());
  for (auto _ : state) benchmark::DoNotOptimize(subject.wildcardMismatch(maskString));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(twentyStarsOverLetters)->Unit(benchmark::kMillisecond);

// 200 masks of the kinds rule files hold, and names that mail carries.
std::vector<std::string> ordinaryMasks() {
  const char* extensions[] = {"exe", "pif", "scr", "com", "bat", "vbs", "js",  "cmd", "hta", "lnk",
                              "zip", "rar", "doc", "xls", "jar", "wsf", "cpl", "msi", "reg", "iso"};
  std::vector<std::string> masks;
  for (const char* extension : extensions) {
    const std::string ext = extension;
    for (const std::string& mask :
         {"*." + ext, "*.??." + ext, "*.???." + ext, "invoice*." + ext, "?*_" + ext, "*." + ext + "*",
          "document*." + ext, "*\\?." + ext, "*.*." + ext, "photo??." + ext})
      masks.push_back(mask);
  }
  return masks;
}

const std::vector<std::string> ordinaryNames = {
    "report.pdf",
    "IMG_20240611_1234.JPG",
    "invoice 4411.docx",
    "File1.tmp",
    "File2.tmp",
    "Quarterly Results Q2 2024.xlsx",
    "readme.txt",
    "holiday-photo.png",
    "setup.exe.txt",
    "data.csv",
    "minutes_of_meeting.doc",
    "scan0001.tif",
    "notes.md",
    "archive.tar.gz",
    "card.vcf",
    "calendar.ics",
    "File1.DAT",
    "logo.gif",
    "contract-final-v3.pdf",
    "a.b",
};

void ordinaryRuleSet(benchmark::State& state) {
  std::vector<String> masks;
  for (const std::string& mask : ordinaryMasks()) masks.emplace_back(mask.c_str());
  std::vector<String> names;
  for (const std::string& name : ordinaryNames) names.emplace_back(name.c_str());
  for (auto _ : state) {
    for (const String& mask : masks) {
      for (const String& name : names) benchmark::DoNotOptimize(name.wildcardMismatch(mask));
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(masks.size() * names.size()));
}
BENCHMARK(ordinaryRuleSet);

void ordinaryRuleSetReference(benchmark::State& state) {
  const std::vector<std::string> masks = ordinaryMasks();
  for (auto _ : state) {
    for (const std::string& mask : masks) {
      for (const std::string& name : ordinaryNames)
        benchmark::DoNotOptimize(zentry::test::wildcardMismatchOracle(name, mask));
    }
  }
  state.SetItemsProcessed(state.iterations() *
                          static_cast<std::int64_t>(masks.size() * ordinaryNames.size()));
}
BENCHMARK(ordinaryRuleSetReference);

void starExtensionOverDotsReference(benchmark::State& state) {
  const std::string name(1 << 20, '.');
  for (auto _ : state) benchmark::DoNotOptimize(zentry::test::wildcardMismatchOracle(name, "*.exe"));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(starExtensionOverDotsReference)->Unit(benchmark::kMillisecond);

}  // namespace

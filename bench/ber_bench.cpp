// Encoding and decoding speed of BER messages: a check-result-like message of
// integers, strings, a real and a nested sequence, written in both length
// forms, read into bound variables, and skipped as an unknown element.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/ber_reader.h"
#include "protocol/ber_sequence.h"
#include "protocol/ber_types.h"

namespace {

using namespace protocol;

struct Result {
  int id = 0;
  unsigned state = 0;
  std::int64_t when = 0;
  double value = 0;
  std::string text;
  std::vector<std::string> lines;
};

std::unique_ptr<BerSequence> bind(Result& r) {
  auto message = std::make_unique<BerSequence>(BE_CHECK_RESULT_CURRENT);
  message->emplace<BerInt>(r.id);
  message->emplace<BerUInt>(r.state, 0u, 3u);
  message->emplace<BerInt64>(r.when);
  message->emplace<BerReal>(r.value);
  message->emplace<BerString>(r.text, 4096);
  auto& lines = message->emplace<BerSequence>(BE_HOST_INFO_LINE_CURRENT);
  for (std::string& line : r.lines) lines.emplace<BerString>(line, 1024);
  return message;
}

Result sample() {
  Result r{123456, 2, 1700000000123LL, 0.875, "disk /var at 91% (warning above 90%)", {}};
  for (int i = 0; i < 8; ++i) r.lines.push_back("line " + std::to_string(i) + std::string(60, 'x'));
  return r;
}

void BM_EncodeMessage(benchmark::State& state) {
  const LengthForm form = state.range(0) == 0 ? LengthForm::definite : LengthForm::indefinite;
  Result r = sample();
  const auto message = bind(r);
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::vector<std::uint8_t> out = encode(*message, form);
    bytes += out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_EncodeMessage)->Arg(0)->Arg(1);

void BM_DecodeMessage(benchmark::State& state) {
  const LengthForm form = state.range(0) == 0 ? LengthForm::definite : LengthForm::indefinite;
  Result r = sample();
  const std::vector<std::uint8_t> bytes = encode(*bind(r), form);
  Result into = sample();
  const auto message = bind(into);
  for (auto _ : state) {
    decode(bytes, *message);
    benchmark::DoNotOptimize(into.id);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_DecodeMessage)->Arg(0)->Arg(1);

void BM_SkipMessage(benchmark::State& state) {
  Result r = sample();
  const std::vector<std::uint8_t> bytes = encode(*bind(r), LengthForm::indefinite);
  BerConstructedSkipper skipper(BE_SEQ_CURRENT);
  for (auto _ : state) decode(bytes, skipper);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_SkipMessage);

void BM_EncodeInteger(benchmark::State& state) {
  std::int64_t value = -1234567890123LL;
  const BerInt64 ber(value);
  BerWriter out;
  for (auto _ : state) {
    ber.write(out);
    if (out.bytes().size() > 4096) out = BerWriter();
  }
}
BENCHMARK(BM_EncodeInteger);

}  // namespace

BENCHMARK_MAIN();

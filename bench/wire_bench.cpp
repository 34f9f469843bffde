// Event encoding and decoding speed: an IMMEDIATE_STATE and a SET_STATUS (the
// alarm process's most frequent input and output), and a select reply of
// 10,000 objects (the subscription's full result at start-up). The streams
// hand out one large area and rewind between iterations, so the figures are
// the encoder's own cost plus the event's allocation.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "queues/devent.h"
#include "queues/ioprim.h"

namespace {

using namespace queues;

class BufferOStream : public io::OStream {
 public:
  std::string name() const override { return "bench out"; }
  bool isReady() override { return true; }
  std::size_t writeBegin(std::uint8_t*& data) override {
    data = bytes_.data() + used_;
    return bytes_.size() - used_;
  }
  void writeCommit(std::size_t n) override { used_ += n; }
  bool flush() override { return true; }
  void close() override {}

  void rewind() { used_ = 0; }
  std::vector<std::uint8_t> written() const { return {bytes_.begin(), bytes_.begin() + used_}; }

 private:
  std::vector<std::uint8_t> bytes_ = std::vector<std::uint8_t>(64 << 20);
  std::size_t used_ = 0;
};

class BufferIStream : public io::IStream {
 public:
  explicit BufferIStream(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  std::string name() const override { return "bench in"; }
  bool isReady() override { return true; }
  std::size_t readBegin(const std::uint8_t*& data) override {
    data = bytes_.data() + pos_;
    return bytes_.size() - pos_;
  }
  void readCommit(std::size_t n) override { pos_ += n; }
  void close() override {}

  void rewind() { pos_ = 0; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

std::vector<std::uint8_t> encode(const event& ev) {
  BufferOStream out;
  queues::ioprim io(nullptr, &out);
  io.writeEvent(ev);
  io.flush();
  return out.written();
}

devent_t<IMMEDIATE_STATE> immediateState() {
  return devent_t<IMMEDIATE_STATE>(QUEUE_DBMS, 17, {{0, 12, 345}, 2});
}

devent_t<SET_STATUS> setStatus() {
  return devent_t<SET_STATUS>(QUEUE_DBMS, 0, {{0, 12, 345}, 13, 1700000000, 1700000100});
}

// One tree: a root with 9,999 children, each with the few properties a
// check carries.
devent_t<RETURN_TQL_SELECT> selectReply() {
  devent_t<RETURN_TQL_SELECT> ev(QUEUE_DBMS, 5);
  auto root = std::make_unique<tql::object_t>();
  root->class_ = 1;
  root->id = {0, 1};
  for (std::uint32_t i = 0; i < 9999; ++i) {
    auto child = std::make_unique<tql::object_t>();
    child->class_ = 7;
    child->id = {0, 2, i};
    child->version = {i, 1};
    child->properties.insert(
        std::make_unique<tql::property_string_t>(3, "check " + std::to_string(i)));
    child->properties.insert(std::make_unique<tql::property_uint_t>(40, 300));
    child->properties.insert(std::make_unique<tql::property_int_t>(41, 2));
    child->properties.insert(std::make_unique<tql::property_date_t>(42, 1700000000 + i));
    root->children.push_back(std::move(child));
  }
  ev.data.res.push_back(std::move(root));
  return ev;
}

void encodeBench(benchmark::State& state, const event& ev) {
  BufferOStream out;
  queues::ioprim io(nullptr, &out);
  for (auto _ : state) {
    out.rewind();
    io.writeEvent(ev);
    io.flush();
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * encode(ev).size()));
}

void decodeBench(benchmark::State& state, const event& ev) {
  const std::vector<std::uint8_t> bytes = encode(ev);
  BufferIStream in(bytes);
  queues::ioprim io(&in, nullptr);
  for (auto _ : state) {
    in.rewind();
    EventPtr got = io.readEvent();
    benchmark::DoNotOptimize(got.get());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BM_EncodeImmediateState(benchmark::State& state) { encodeBench(state, immediateState()); }
void BM_DecodeImmediateState(benchmark::State& state) { decodeBench(state, immediateState()); }
void BM_EncodeSetStatus(benchmark::State& state) { encodeBench(state, setStatus()); }
void BM_DecodeSetStatus(benchmark::State& state) { decodeBench(state, setStatus()); }
void BM_EncodeSelectReply10k(benchmark::State& state) { encodeBench(state, selectReply()); }
void BM_DecodeSelectReply10k(benchmark::State& state) { decodeBench(state, selectReply()); }

BENCHMARK(BM_EncodeImmediateState);
BENCHMARK(BM_DecodeImmediateState);
BENCHMARK(BM_EncodeSetStatus);
BENCHMARK(BM_DecodeSetStatus);
BENCHMARK(BM_EncodeSelectReply10k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeSelectReply10k)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

#pragma once
// Test-only: fills any payload with varied, deterministic sample values, and
// moves events through in-memory streams. Never include from library code.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "io/memory_stream.h"
#include "queues/devent.h"
#include "queues/ioprim.h"

namespace testkit {

using queues::ioprim;
using queues::Record;

// Builds sample values from a seeded generator. Containers get 0 to 3
// elements, trees stop growing at a small depth, and properties cycle through
// every type code, so every encoder meets non-trivial input.
class SampleFiller {
 public:
  explicit SampleFiller(std::uint32_t seed) : rng_(seed) {}

  template <class T>
  void fill(T& value) {
    if constexpr (Record<T>) {
      ++depth_;
      T::fields(value, [&](const char*, auto& field) { fill(field); });
      --depth_;
    } else {
      fillValue(value);
    }
  }

 private:
  std::uint32_t next(std::uint32_t bound) {
    return std::uniform_int_distribution<std::uint32_t>(0, bound - 1)(rng_);
  }
  // Container sizes: 0 to 3, and 0 once the data is deeply nested.
  std::uint32_t count() { return depth_ > 4 ? 0 : next(4); }

  template <class T>
  requires std::is_integral_v<T>
  void fillValue(T& value) {
    if constexpr (std::is_same_v<T, bool>) {
      value = next(2) == 1;
    } else {
      value = static_cast<T>(std::uniform_int_distribution<std::uint64_t>()(rng_));
    }
  }
  void fillValue(double& value) { value = static_cast<double>(next(1000000)) / 64.0 - 5000.0; }
  void fillValue(std::string& value) {
    value = "s" + std::to_string(next(100000));
    if (next(4) == 0) value.clear();
  }
  void fillValue(queues::queue_t& value) {
    value = static_cast<queues::queue_t>(static_cast<std::int32_t>(next(25)) - 1);
  }
  void fillValue(htime::usec_time& value) {
    value.sec = static_cast<std::int32_t>(next(2000000000));
    value.usec = static_cast<std::int32_t>(next(1000000));
  }
  void fillValue(tql::id_t& value) {
    value.resize(next(4));
    for (std::size_t i = 0; i < value.size(); ++i) value[i] = next(1000);
  }
  void fillValue(tql::version_t& value) {
    fillValue(value.major);
    fillValue(value.minor);
  }
  void fillValue(tql::property_ptr& value);
  void fillValue(queues::EventPtr& value) {
    auto ev = std::make_unique<queues::devent_t<queues::SYS_EXIT>>();
    fill(ev->dest);
    fill(ev->inresponse);
    fill(ev->data);
    value = std::move(ev);
  }
  template <class T>
  void fillValue(std::unique_ptr<T>& value) {
    value = std::make_unique<T>();
    fill(*value);
  }
  template <class T>
  void fillValue(std::vector<T>& value) {
    value.resize(count());
    for (auto& element : value) fill(element);
  }
  template <class T>
  void fillValue(std::list<T>& value) {
    value.resize(count());
    for (auto& element : value) fill(element);
  }
  template <class T>
  void fillValue(std::set<T>& value) {
    for (std::uint32_t n = count(); n > 0; --n) {
      T element{};
      fill(element);
      value.insert(std::move(element));
    }
  }
  // Draws as a std::set of the same numbers would.
  void fillValue(tql::TagSet& value) {
    for (std::uint32_t n = count(); n > 0; --n) {
      std::uint32_t tag = 0;
      fill(tag);
      value.insert(tag);
    }
  }
  template <class T>
  void fillValue(tql::SparseValue<T>& value) {
    T held{};
    fill(held);
    value.set(held);
  }
  template <class A, class B>
  void fillValue(std::pair<A, B>& value) {
    fill(value.first);
    fill(value.second);
  }
  // Property maps hold one property of each type, keyed by its number.
  void fillValue(tql::PropertyMap& value) {
    if (depth_ > 4) return;
    for (std::uint32_t code = tql::kFirstPropertyType; code <= tql::kLastPropertyType; ++code) {
      tql::property_ptr p;
      fillProperty(p, code);
      value.insert_or_assign(std::move(p));
    }
  }
  void fillProperty(tql::property_ptr& value, std::uint32_t code);

  std::mt19937 rng_;
  int depth_ = 0;
  std::uint32_t next_property_number_ = 100;
};

inline void SampleFiller::fillValue(tql::property_ptr& value) {
  fillProperty(value, tql::kFirstPropertyType + next(tql::kLastPropertyType - 6));
}

inline void SampleFiller::fillProperty(tql::property_ptr& value, std::uint32_t code) {
  value = tql::makeProperty(code);
  value->property = next_property_number_++;
  value->isNull = next(5) == 0;
  value->aux = next(1000);
  tql::visitProperty(*value, [&](auto& p) {
    using P = std::remove_cvref_t<decltype(p)>;
    if constexpr (std::is_same_v<P, tql::property_bignum_t>) {
      p.value = tql::bignum_t(static_cast<std::int64_t>(next(2000000)) - 1000000);
    } else if constexpr (std::is_same_v<P, tql::property_blob_t> ||
                         std::is_same_v<P, tql::property_lob_t>) {
      p.value.resize(next(6));
      for (auto& byte : p.value) byte = static_cast<std::uint8_t>(next(256));
    } else if constexpr (std::is_same_v<P, tql::property_object_t>) {
      fill(p.value);
      fill(p.extraId1);
      fill(p.extraId2);
      fill(p.extraWord);
    } else if constexpr (std::is_same_v<P, tql::property_version_t>) {
      fill(p.major);
      fill(p.minor);
    } else if constexpr (std::is_same_v<P, tql::property_enum_t>) {
      fill(p.enumType);
      fill(p.value);
    } else {
      fill(p.value);
    }
  });
}

// Writes events into an in-memory pipe and reads them back.
class Loopback {
 public:
  explicit Loopback(std::size_t write_area = 4096,
                    std::size_t read_area = io::MemoryPipe::kUnlimited)
      : streams_(write_area, read_area),
        writer_(nullptr, &streams_.out),
        reader_(&streams_.in, nullptr) {}

  void send(const queues::event& ev) {
    writer_.writeEvent(ev);
    writer_.flush();
  }
  queues::EventPtr receive() { return reader_.readEvent(); }
  // Raw bytes into the pipe, as a peer would have written them.
  void feed(const std::vector<std::uint8_t>& bytes) {
    writer_.putBytes(bytes.data(), bytes.size());
    writer_.flush();
  }
  // The reader sees the end of the stream after what was sent so far.
  void closeWriter() { streams_.out.close(); }
  // Everything sent and not yet received, consumed.
  std::vector<std::uint8_t> drain() {
    std::vector<std::uint8_t> bytes;
    while (streams_.pipe.unread() > 0) {
      const std::uint8_t* data = nullptr;
      const std::size_t n = streams_.in.readBegin(data);
      bytes.insert(bytes.end(), data, data + n);
      streams_.in.readCommit(n);
    }
    return bytes;
  }
  std::size_t unread() const { return streams_.pipe.unread(); }
  ioprim& reader() { return reader_; }
  ioprim& writer() { return writer_; }

 private:
  io::MemoryStreamPair streams_;
  ioprim writer_;
  ioprim reader_;
};

// The bytes of one event as written.
inline std::vector<std::uint8_t> encode(const queues::event& ev) {
  Loopback loop;
  loop.send(ev);
  return loop.drain();
}

// Takes whatever is written to it, like /dev/null.
class Discard final : public io::OStream {
 public:
  std::string name() const override { return "Discard"; }
  bool isReady() override { return true; }
  std::size_t writeBegin(std::uint8_t*& data) override {
    data = buffer_.data();
    return buffer_.size();
  }
  void writeCommit(std::size_t) override {}
  bool flush() override { return true; }
  void close() override {}

 private:
  std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(1 << 16);
};

}  // namespace testkit

// The capacity-checked reads: identical to their originals while the
// terminal's count fits the caller's array; past it, nothing is written, no
// callback runs, the announced count is reported and the link stays usable.
#include <functional>

#include "record_builders.h"

namespace pq640::test {
namespace {

using Calls = std::vector<ProgressLog::Call>;

constexpr std::size_t kGuard = 64;
constexpr std::uint8_t kUntouched = 0xEE;

// A caller's array of `capacity` entries with guard bytes on both sides.
class GuardedArray {
 public:
  GuardedArray(std::uint32_t capacity, std::size_t stride)
      : bytes_(2 * kGuard + std::size_t{capacity} * stride, kUntouched) {}
  void* entries() { return bytes_.data() + kGuard; }
  bool Untouched() const {
    return std::all_of(bytes_.begin(), bytes_.end(), [](std::uint8_t b) { return b == kUntouched; });
  }
  bool GuardsIntact() const {
    return std::all_of(bytes_.begin(), bytes_.begin() + kGuard, [](std::uint8_t b) { return b == kUntouched; }) &&
           std::all_of(bytes_.end() - kGuard, bytes_.end(), [](std::uint8_t b) { return b == kUntouched; });
  }
  const Bytes& all() const { return bytes_; }

 private:
  Bytes bytes_;
};

using Original = std::function<PQ640_ResultCode(std::uint32_t*, void*, PQ640_ProgressCallback)>;
using Bounded = std::function<PQ640_ResultCode(std::uint32_t, std::uint32_t*, void*, PQ640_ProgressCallback)>;

// One read and its bounded form, with what a terminal answers to it.
struct ReadPair {
  const char* name;
  std::size_t stride;
  Bytes entry;  // one entry as the terminal sends it
  Original original;
  Bounded bounded;
};

PQ640_RecordQuery g_query{};
const PQ640_DateTime g_from{26, 1, 1, 0, 0, 0}, g_to{26, 12, 31, 23, 59, 59};
const std::uint32_t g_ids[2] = {7, 8};

std::vector<ReadPair> Pairs() {
  const Bytes io = {26, 12, 8, 9, 30, 0, 7, 0, 0, 0, 1, 2, 3, 4, 5, 6};
  return {
      {"GetAllUserData records", 988, UserWire(MakeUser(7, 2, 10)),
       [](auto* c, void* b, auto cb) { return PQ640_GetAllUserData(c, b, PQ640_LIST_RECORDS, cb); },
       [](auto cap, auto* c, void* b, auto cb) { return PQ640_GetAllUserDataBounded(cap, c, b, PQ640_LIST_RECORDS, cb); }},
      {"GetAllUserData IDs", 4, U32(7),
       [](auto* c, void* b, auto cb) { return PQ640_GetAllUserData(c, b, PQ640_LIST_IDS, cb); },
       [](auto cap, auto* c, void* b, auto cb) { return PQ640_GetAllUserDataBounded(cap, c, b, PQ640_LIST_IDS, cb); }},
      {"GetAllAdminData records", 988, AdminWire(MakeAdmin(3, 1, 1, 4)),
       [](auto* c, void* b, auto cb) { return PQ640_GetAllAdminData(c, b, PQ640_LIST_RECORDS, cb); },
       [](auto cap, auto* c, void* b, auto cb) { return PQ640_GetAllAdminDataBounded(cap, c, b, PQ640_LIST_RECORDS, cb); }},
      {"GetIORecord", 16, io,
       [](auto* c, void* b, auto cb) { return PQ640_GetIORecord(&g_query, c, static_cast<PQ640_IORecord*>(b), cb); },
       [](auto cap, auto* c, void* b, auto cb) {
         return PQ640_GetIORecordBounded(&g_query, cap, c, static_cast<PQ640_IORecord*>(b), cb);
       }},
      {"GetAdminRecord", 16, Bytes(16, 0x42),
       [](auto* c, void* b, auto cb) { return PQ640_GetAdminRecord(&g_query, c, static_cast<PQ640_AdminRecord*>(b), cb); },
       [](auto cap, auto* c, void* b, auto cb) {
         return PQ640_GetAdminRecordBounded(&g_query, cap, c, static_cast<PQ640_AdminRecord*>(b), cb);
       }},
      {"GetUsersIORecord", 16, io,
       [](auto* c, void* b, auto cb) {
         return PQ640_GetUsersIORecord(2, g_ids, 0xFF, &g_from, &g_to, c, static_cast<PQ640_IORecord*>(b), cb);
       },
       [](auto cap, auto* c, void* b, auto cb) {
         return PQ640_GetUsersIORecordBounded(2, g_ids, 0xFF, &g_from, &g_to, cap, c,
                                              static_cast<PQ640_IORecord*>(b), cb);
       }},
  };
}

// The answer: `announced`, then `sent` copies of the entry.
Bytes Frame(const ReadPair& pair, std::uint32_t announced, std::uint32_t sent) {
  Bytes payload = U32(announced);
  for (std::uint32_t i = 0; i < sent; ++i) payload.insert(payload.end(), pair.entry.begin(), pair.entry.end());
  return ResponseFrame(0, 0, payload);
}

struct Outcome {
  PQ640_ResultCode code;
  std::uint32_t count;
  Bytes array;
  Calls progress;
  Bytes sent;
  bool operator==(const Outcome&) const = default;
};

class BoundedReads : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    ProgressLog::Calls().clear();
  }
  void Answer(const Bytes& frame) { serial_ ? AnswerOverSerial(frame) : (void)AnswerOverTcp(frame); }
  Bytes Sent() { return serial_ ? fake::LastSerialPort().written : fake::LastSocket().sent; }
  void ClearSent() {
    if (serial_) fake::LastSerialPort().written.clear();
  }

  Outcome Run(const std::function<PQ640_ResultCode(std::uint32_t*, void*)>& call, const Bytes& frame,
              std::uint32_t capacity, std::size_t stride) {
    ProgressLog::Calls().clear();
    Answer(frame);
    ClearSent();
    GuardedArray array(capacity, stride);
    std::uint32_t count = 0xC0C0;
    const PQ640_ResultCode code = call(&count, array.entries());
    return {code, count, array.all(), ProgressLog::Calls(), Sent()};
  }

  // After an abandoned answer the next command finds a clean link.
  void ExpectNextCommandWorks(const char* name) {
    Answer(ResponseFrame(0, 0));
    EXPECT_EQ(PQ640_CheckLink(), PQ640_OK) << name;
  }

  bool serial_ = false;
};

TEST_F(BoundedReads, WhileTheCountFitsTheyAreTheOriginalsOnBothLinks) {
  for (bool serial : {false, true}) {
    serial_ = serial;
    serial ? OpenSerial() : OpenTcp();
    for (const ReadPair& pair : Pairs()) {
      for (std::uint32_t n : {0u, 1u, 3u}) {
        const Bytes frame = Frame(pair, n, n);
        const Outcome original = Run([&](auto* c, void* b) { return pair.original(c, b, &ProgressLog::Record); },
                                     frame, 3, pair.stride);
        const Outcome bounded = Run([&](auto* c, void* b) { return pair.bounded(3, c, b, &ProgressLog::Record); },
                                    frame, 3, pair.stride);
        EXPECT_EQ(original.code, PQ640_OK) << pair.name << " n=" << n;
        EXPECT_EQ(original.count, n) << pair.name;
        EXPECT_TRUE(original == bounded) << pair.name << " n=" << n << (serial ? " serial" : " TCP");
        // A capacity that fits exactly is enough.
        const Outcome exact = Run([&](auto* c, void* b) { return pair.bounded(n, c, b, nullptr); }, frame, n,
                                  pair.stride);
        EXPECT_EQ(exact.code, PQ640_OK) << pair.name;
      }
    }
  }
}

TEST_F(BoundedReads, ACountAboveTheCapacityWritesNothingAndReportsTheCount) {
  for (bool serial : {false, true}) {
    serial_ = serial;
    serial ? OpenSerial() : OpenTcp();
    for (const ReadPair& pair : Pairs()) {
      for (const auto& [capacity, announced] : {std::pair{2u, 3u}, std::pair{0u, 1u}, std::pair{5u, 0xFFFFFFFFu}}) {
        const std::string where = std::string(pair.name) + " capacity " + std::to_string(capacity) +
                                  " announced " + std::to_string(announced) + (serial ? " serial" : " TCP");
        ProgressLog::Calls().clear();
        Answer(Frame(pair, announced, std::min(announced, 3u)));
        GuardedArray array(capacity, pair.stride);
        std::uint32_t count = 0xC0C0;
        EXPECT_EQ(pair.bounded(capacity, &count, array.entries(), &ProgressLog::Record), PQ640_BUFFER_TOO_SMALL)
            << where;
        EXPECT_EQ(count, announced) << where;
        EXPECT_TRUE(array.Untouched()) << where;
        EXPECT_TRUE(ProgressLog::Calls().empty()) << where;
        if (!serial) {
          EXPECT_TRUE(fake::LastSocket().closed) << where << ": the connection is dropped at once";
        }
        ExpectNextCommandWorks(where.c_str());
      }
    }
  }
}

TEST_F(BoundedReads, TheOriginalsStillTrustTheTerminalsCount) {
  OpenTcp();
  const ReadPair pair = Pairs()[3];  // GetIORecord
  GuardedArray array(4, 16);
  std::uint32_t count = 0;
  // What the bounded form exists for: the original writes all five records.
  AnswerOverTcp(Frame(pair, 5, 5));
  ASSERT_EQ(pair.original(&count, array.entries(), nullptr), PQ640_OK);
  EXPECT_FALSE(array.GuardsIntact());
}

TEST_F(BoundedReads, ListingModesOutsideTheThreeAreRefusedBeforeSending) {
  OpenTcp();
  std::uint32_t count = 0;
  std::uint32_t ids[1];
  EXPECT_EQ(PQ640_GetAllUserDataBounded(1, &count, ids, 3, nullptr), PQ640_OUT_OF_RANGE);
  EXPECT_EQ(PQ640_GetAllAdminDataBounded(1, &count, nullptr, 255, nullptr), PQ640_OUT_OF_RANGE);
  EXPECT_TRUE(NothingSent());
  // The count mode needs no capacity and no buffer.
  AnswerOverTcp(ResponseFrame(0, 0, U32(4000)));
  EXPECT_EQ(PQ640_GetAllUserDataBounded(0, &count, nullptr, PQ640_LIST_COUNT, nullptr), PQ640_OK);
  EXPECT_EQ(count, 4000u);
}

// ---- Administrator counts are written only after the trailer ---------------------

TEST_F(BoundedReads, AdministratorCountsWaitForAMatchingTrailer) {
  OpenTcp();
  for (const ReadPair& pair : {Pairs()[2], Pairs()[4]}) {
    Bytes frame = Frame(pair, 2, 2);
    frame.back() ^= 0x01;
    AnswerOverTcp(frame);
    GuardedArray array(2, pair.stride);
    std::uint32_t count = 77;
    EXPECT_EQ(pair.original(&count, array.entries(), nullptr), PQ640_BAD_CHECKSUM) << pair.name;
    EXPECT_EQ(count, 77u) << pair.name;
    AnswerOverTcp(frame);
    EXPECT_EQ(pair.bounded(2, &count, array.entries(), nullptr), PQ640_BAD_CHECKSUM) << pair.name;
    EXPECT_EQ(count, 77u) << pair.name;
  }
}

}  // namespace
}  // namespace pq640::test

// Writes the fuzz targets' seed inputs: the simulated terminal's real answers
// to each command the targets run, each behind the two bytes that pick the
// command and the link. Run once when the targets change:
//   build/fuzz/tests/fuzz/record_seeds tests/fuzz/corpus
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pq640sim/generated_records.h"
#include "pq640sim/little_endian.h"
#include "pq640sim/terminal_model.h"
#include "pq640sim/wire_format.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::filesystem::path g_root;

// A seed: command selector, link and parameter byte, then the answer frame.
void Write(const std::string& target, int index, std::uint8_t selector, std::uint8_t parameter,
           const pq640sim::Reply& reply) {
  for (int serial = 0; serial < 2; ++serial) {
    Bytes seed = {selector, static_cast<std::uint8_t>(parameter << 1 | serial)};
    const Bytes frame = pq640sim::EncodeResponse(0, reply.result, reply.payload);
    seed.insert(seed.end(), frame.begin(), frame.end());
    const auto path = g_root / target / (std::to_string(index) + (serial ? "-serial" : "-tcp"));
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(seed.data()),
                                                static_cast<std::streamsize>(seed.size()));
  }
}

Bytes U32(std::uint32_t v) {
  Bytes b(4);
  pq640sim::StoreU32(b, 0, v);
  return b;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: record_seeds CORPUS_FOLDER\n");
    return 2;
  }
  g_root = argv[1];
  pq640sim::TerminalModel model;
  model.SetTerminalId(0);
  model.Generate({.users = 6, .administrators = 3, .io_records = 12, .admin_records = 5});
  const Bytes query(18, 0);  // kind 0: everything
  const Bytes user_ids = Concat({U32(2), U32(1), U32(5)});
  const Bytes window = Concat({{0xFF}, {26, 1, 1, 0, 0, 0}, {99, 12, 31, 23, 59, 59}});

  // Bare answers: success and a refusal.
  for (int selector = 0; selector < 14; ++selector) {
    Write("header_only", selector, static_cast<std::uint8_t>(selector), 1, {});
  }
  Write("header_only", 14, 0, 0, pq640sim::Reply{7, {}});

  Write("fixed_payload", 0, 0, 0, model.Handle(8, {}));
  Write("fixed_payload", 1, 1, 0, model.Handle(2, {}));
  Write("fixed_payload", 2, 2, 0, model.Handle(73, query));
  Write("fixed_payload", 3, 3, 0, model.Handle(65, query));
  Write("fixed_payload", 4, 4, 0, model.Handle(77, Concat({U32(1), U32(1), window})));

  Write("enrolment_records", 0, 0, 0, model.Handle(19, U32(3)));
  Write("enrolment_records", 1, 1, 0, model.Handle(35, U32(2)));
  for (std::uint8_t mode = 0; mode < 4; ++mode) {
    Write("enrolment_records", 2 + mode, 2, mode, model.Handle(20, Bytes{mode}));
    Write("enrolment_records", 6 + mode, 3, mode, model.Handle(36, Bytes{mode}));
  }
  Write("enrolment_records", 10, 4, 2, model.Handle(23, Concat({U32(3), U32(1), U32(9), U32(4)})));

  Write("result_lists", 0, 1, 2, model.Handle(22, Concat({U32(3), U32(1), U32(99), U32(2)})));
  Write("result_lists", 1, 0, 1, pq640sim::Reply{0, {0, 0}});

  Write("logs", 0, 0, 0, model.Handle(72, query));
  Write("logs", 1, 1, 0, model.Handle(64, query));
  Write("logs", 2, 2, 0, model.Handle(76, Concat({user_ids, window})));

  // Requests as a host sends them, for the simulator's parser.
  const auto request = [](std::uint8_t command, const Bytes& payload) {
    Bytes frame(pq640sim::kPreamble.begin(), pq640sim::kPreamble.end());
    frame.push_back(pq640sim::kStartByte);
    Bytes body = {0, 0, command};
    body.insert(body.end(), payload.begin(), payload.end());
    frame.insert(frame.end(), body.begin(), body.end());
    frame.push_back(pq640sim::XorChecksum(body));
    return frame;
  };
  const std::vector<Bytes> requests = {
      request(1, {}), request(9, {26, 12, 8, 9, 30, 0}), request(21, Concat({U32(1), pq640sim::GeneratedUserRecord(4)})),
      request(22, Concat({U32(2), U32(1), U32(2)})), request(76, Concat({user_ids, window})), request(72, query)};
  for (std::size_t i = 0; i < requests.size(); ++i) {
    Bytes seed = {static_cast<std::uint8_t>(7 + i)};
    seed.insert(seed.end(), requests[i].begin(), requests[i].end());
    std::ofstream(g_root / "request_parser" / std::to_string(i), std::ios::binary)
        .write(reinterpret_cast<const char*>(seed.data()), static_cast<std::streamsize>(seed.size()));
  }
  return 0;
}

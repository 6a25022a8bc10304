// Base64 (RFC 4648, standard alphabet, padded) for the binary fields of the
// tool's JSON documents: templates, codes, info bytes, the settings block.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pq640admin {

std::string EncodeBase64(std::span<const std::uint8_t> bytes);
// Nothing for text that is not padded base64 (whitespace is not allowed).
std::optional<std::vector<std::uint8_t>> DecodeBase64(std::string_view text);

}  // namespace pq640admin

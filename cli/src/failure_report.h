// Messages on stderr: a failure with its result code and meaning, a hint in
// the user's terms where one helps, and usage errors.
#pragma once

#include <pq640/pq640.h>

#include <string>

#include "admin_context.h"

namespace pq640admin {

// The link the hints talk about ("127.0.0.1, terminal ID 0").
void SetReportedLink(const LinkOptions& link);
// That link in words: "127.0.0.1:7413, terminal ID 0" or "COM1, terminal ID 3".
std::string ReportedLinkText();

// "pq640-admin: WHAT failed: CODE (meaning)" plus a hint; returns kExitFailed.
int Fail(const std::string& what, PQ640_ResultCode code);
// An input refused before anything was sent; returns kExitUsage.
int Refuse(const std::string& message);
// Any other failure after contact, in words; returns kExitFailed.
int FailWith(const std::string& message);
// A line on stderr that is not a failure (an estimate, a per-record result).
void Note(const std::string& message);

// The first range rule the block breaks, in words ("offset 68: 11 is above
// the value at offset 32 (10)"); empty when it keeps them all.
std::string BrokenRuleText(const PQ640_SystemData& block);

}  // namespace pq640admin

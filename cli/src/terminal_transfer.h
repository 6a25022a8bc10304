// Reading and writing whole sets of records with the fewest transactions:
// listings and bulk adds where the library has them (batches of at most
// 1000), one command per record where it has not. Listings go through the
// Bounded reads with the ceilings of bounded_read.h. Each prints its failures
// and returns an exit status.
#pragma once

#include <pq640/pq640.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tally.h"

namespace pq640admin {

int ReadUsers(std::vector<PQ640_UserData>& users);
int ReadAdmins(std::vector<PQ640_AdminData>& admins);
// The IDs of the users (or administrators) held.
int ReadIds(bool admins, std::vector<std::uint32_t>& ids);
int ReadIoRecords(const PQ640_RecordQuery& query, std::vector<PQ640_IORecord>& records);
int ReadAdminRecords(const PQ640_RecordQuery& query, std::vector<PQ640_AdminRecord>& records);
int ReadUsersIoRecords(const std::vector<std::uint32_t>& ids, std::uint8_t selector,
                       const PQ640_DateTime& from, const PQ640_DateTime& to,
                       std::vector<PQ640_IORecord>& records);
// The users with these IDs; IDs the terminal does not hold are left out.
int ReadUsersById(const std::vector<std::uint32_t>& ids, std::vector<PQ640_UserData>& users);

// The writes count into `tally` (done, refused per result byte, skipped when
// the link failed part-way) and return 1 only for a failure of the link.
int AddUsers(const std::vector<PQ640_UserData>& users, Tally& tally);
int AddAdmins(const std::vector<PQ640_AdminData>& admins, Tally& tally);
int AddIoRecords(const std::vector<PQ640_IORecord>& records, Tally& tally);
int AddAdminRecords(const std::vector<PQ640_AdminRecord>& records, Tally& tally);
int DeleteUsers(const std::vector<std::uint32_t>& ids, Tally& tally);
int DeleteAdmins(const std::vector<std::uint32_t>& ids, Tally& tally);
// One command's result, counted: 0 done; 1..255 the terminal refused
// `record`, and the run goes on; anything else a failure of the link, which
// counts the `remaining` records as skipped and is reported as `what` failed.
int CountResult(PQ640_ResultCode r, Tally& tally, std::size_t remaining, const std::string& record,
                const std::string& what);

// Over TCP every command costs the terminal's reconnect pause.
inline constexpr double kSecondsPerCommand = 0.45;

}  // namespace pq640admin

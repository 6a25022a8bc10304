// The terminal's user and administrator tables and the enrolment commands on
// them. Records are kept exactly as they arrived on the wire and sent back the
// same way; the map keeps them in ascending ID order for the listings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "pq640sim/reply.h"

namespace pq640sim {

// Wire-form records by ID.
using RecordTable = std::map<std::uint32_t, std::vector<std::uint8_t>>;

class EnrolmentStore {
 public:
  EnrolmentStore(std::size_t max_users, std::size_t max_admins)
      : max_users_(max_users), max_admins_(max_admins) {}

  // Payloads as the command table delimits them (records complete, counts in range).
  Reply AddUser(std::span<const std::uint8_t> record);
  Reply DeleteUser(std::uint32_t id);
  Reply DeleteAllUsers();
  Reply GetUser(std::uint32_t id) const;
  Reply ListUsers(std::uint8_t mode) const;
  Reply AddUsers(std::span<const std::uint8_t> payload);
  Reply DeleteUsers(std::span<const std::uint8_t> payload);
  Reply GetUsers(std::span<const std::uint8_t> payload) const;

  Reply AddAdmin(std::span<const std::uint8_t> record);
  Reply DeleteAdmin(std::uint32_t id);
  Reply DeleteAllAdmins();
  Reply GetAdmin(std::uint32_t id) const;
  Reply ListAdmins(std::uint8_t mode) const;

  const RecordTable& Users() const { return users_; }
  const RecordTable& Admins() const { return admins_; }
  // Seeding: replaces both tables as given, ignoring capacity and record checks.
  void Assign(RecordTable users, RecordTable admins);
  void Clear();
  void SetCapacities(std::size_t max_users, std::size_t max_admins);
  std::size_t UserCapacity() const { return max_users_; }
  std::size_t AdminCapacity() const { return max_admins_; }

 private:
  // Result byte of one user record: added or replaced, table full, refused.
  std::uint8_t PutUser(std::span<const std::uint8_t> record);

  std::size_t max_users_;
  std::size_t max_admins_;
  RecordTable users_;
  RecordTable admins_;
};

}  // namespace pq640sim

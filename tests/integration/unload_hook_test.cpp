// Unloading the shared library closes the port: a connection left open by the
// last command does not outlive dlclose().
#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "pq640/pq640.h"
#include "pq640sim/simulator.h"
#include "sim_fixture.h"

namespace pq640::integration {
namespace {

int OpenSocketCount() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  while (const dirent* entry = readdir(dir)) {
    struct stat info {};
    const std::string path = std::string("/proc/self/fd/") + entry->d_name;
    if (stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) ++count;
  }
  closedir(dir);
  return count;
}

template <typename Function>
Function Symbol(void* library, const char* name) {
  return reinterpret_cast<Function>(dlsym(library, name));
}

TEST(UnloadHook, ClosesTheOpenConnection) {
  pq640sim::Simulator sim;
  const std::string address = LoopbackAddressForThisTest();
  ASSERT_TRUE(sim.StartTcp(address)) << sim.LastError();
  const int sockets_before = OpenSocketCount();

  void* library = dlopen(PQ640_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  auto set_address = Symbol<PQ640_ResultCode (*)(const char*)>(library, "PQ640_SetTerminalIPAddr");
  auto set_id = Symbol<PQ640_ResultCode (*)(uint16_t)>(library, "PQ640_SetTerminalID");
  auto set_port = Symbol<PQ640_ResultCode (*)(uint16_t, uint16_t, uint32_t)>(
      library, "PQ640_SetPortAndCommState");
  auto open_port = Symbol<PQ640_ResultCode (*)()>(library, "PQ640_OpenPort");
  auto check_link = Symbol<PQ640_ResultCode (*)()>(library, "PQ640_CheckLink");
  ASSERT_TRUE(set_address && set_id && set_port && open_port && check_link);

  ASSERT_EQ(set_address(address.c_str()), PQ640_OK);
  ASSERT_EQ(set_id(sim.Model().TerminalId()), PQ640_OK);
  ASSERT_EQ(set_port(PQ640_LINK_TCP, 0, 2), PQ640_OK);
  ASSERT_EQ(open_port(), PQ640_OK);
  ASSERT_EQ(check_link(), PQ640_OK);
  EXPECT_GT(OpenSocketCount(), sockets_before);  // the library's connection stays open

  ASSERT_EQ(dlclose(library), 0);
  // The library's socket goes at once; the simulator's end follows on the EOF.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (OpenSocketCount() > sockets_before && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(OpenSocketCount(), sockets_before);
}

}  // namespace
}  // namespace pq640::integration

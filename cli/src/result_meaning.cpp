#include "result_meaning.h"

namespace pq640admin {
namespace {

struct Meaning {
  PQ640_ResultCode code;
  const char* text;
};

// The one table of meanings. 242 and 243 come from the library as well as
// from a terminal; the host cannot tell which, so they are worded for both.
constexpr Meaning kMeanings[] = {
    {PQ640_OK, "success"},
    {PQ640_SHORT_READ, "the response was cut short"},
    {PQ640_OUT_OF_RANGE, "an argument is out of range"},
    {PQ640_OPEN_FAILED, "the serial port could not be opened"},
    {PQ640_CLOSE_FAILED, "there was nothing to close, or closing failed"},
    {PQ640_PORT_REFUSED,
     "the serial port refused its settings or is not open, or the port or line settings are "
     "invalid"},
    {PQ640_NO_SERIAL_PORT, "no serial port number is set"},
    {PQ640_SOCKET_FAILED, "no TCP socket could be created"},
    {PQ640_TCP_FAILED, "the socket layer failed, or the terminal did not answer in time"},
    {PQ640_NO_SOCKET, "there is no TCP connection"},
    {PQ640_SEND_FAILED, "sending to the terminal failed"},
    {PQ640_READ_FAILED, "connecting failed, the connection was closed, or reading failed"},
    {PQ640_WRONG_TERMINAL, "a terminal with another ID answered"},
    {PQ640_BAD_CHECKSUM, "the response checksum did not match"},
    {PQ640_INVALID_ARGUMENT,
     "invalid argument (address, line settings or date), or the terminal sent a value out of "
     "range"},
};

}  // namespace

const char* ResultMeaning(PQ640_ResultCode code) {
  for (const Meaning& meaning : kMeanings) {
    if (meaning.code == code) return meaning.text;
  }
  if (code > 0 && code <= 255) return "the terminal refused the command with this result byte";
  return "an unknown library failure";
}

}  // namespace pq640admin

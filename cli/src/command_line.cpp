#include "command_line.h"

#include <cctype>
#include <iostream>
#include <memory>

#include "bounded_read.h"
#include "command_groups.h"
#include "failure_report.h"
#include "file_io.h"
#include "link_session.h"
#include "progress_bar.h"
#include "usage_messages.h"

#ifndef PQ640_VERSION
#define PQ640_VERSION "(unversioned build)"
#endif

namespace pq640admin {

void RefuseInput(const std::string& what, const std::string& why) {
  throw CLI::ValidationError(what + ": " + why + "; nothing was sent");
}

void RefuseFile(const std::string& path, const std::string& why) {
  throw CLI::ValidationError(path + ": " + why);
}

Json ReadJsonFile(const std::string& path) {
  std::string text;
  if (path == "-") {
    text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  } else {
    ReadResult read = ReadInput(path);
    if (read.error) throw CLI::ValidationError(*read.error);
    text = std::move(read.content);
  }
  try {
    return Json::parse(text);
  } catch (const Json::parse_error& error) {
    RefuseFile(path, std::string("not valid JSON: ") + error.what());
  }
}

namespace {
OutputFormat g_format = OutputFormat::kTable;
}  // namespace

void Say(const std::string& text, const Json& object) {
  if (g_format == OutputFormat::kJson) {
    std::cout << object.dump(2) << "\n";
  } else {
    std::cout << text << "\n";
  }
}

void PrintRows(const AdminContext& context, const std::vector<std::string>& columns,
               const Json& rows) {
  PrintRecords(std::cout, columns, rows, context.format);
}

namespace {

// Whatever a terminal answers, the run ends with a message and an exit
// status: an allocation or anything else thrown becomes a failure of this
// command, never an abort.
int RunAction(const AdminContext& context) {
  try {
    return context.action();
  } catch (const std::bad_alloc&) {
    return FailWith("out of memory while handling the terminal's answer");
  } catch (const std::exception& error) {
    return FailWith(std::string("internal error: ") + error.what());
  }
}

}  // namespace

int RunAdmin(int argc, char** argv) {
  CLI::App app{"Administers one enrolment/attendance terminal over TCP or a serial line.",
               "pq640-admin"};
  app.require_subcommand(1);
  app.fallthrough();  // global options may also follow the subcommand
  app.set_version_flag("--version", std::string("pq640-admin ") + PQ640_VERSION);

  AdminContext context;
  auto link = std::make_shared<LinkOptions>();
  auto tcp_address = std::make_shared<std::string>();
  auto serial_port = std::make_shared<std::string>();
  auto* transport = app.add_option_group("Link", "How to reach the terminal: exactly one of these");
  auto* tcp = transport->add_option("--tcp", *tcp_address,
                                    "The terminal's IPv4 address (dotted decimal); no default")
                   ->check(CLI::Validator(
                       [](std::string& text) { return AddressProblem(text).value_or(""); }, "ADDRESS"));
  auto* serial = transport->add_option("--serial", *serial_port, "Serial port N or COMn (1..10)")
                     ->check(CLI::Validator(
                         [](std::string& text) {
                           return ParseSerialPort(text) ? std::string()
                                                        : "serial ports are 1..10 (or COM1..COM10), got \"" +
                                                              text + "\"";
                         },
                         "N"));
  transport->require_option(1);
  app.add_option("--baud-code", link->baud_code,
                 "Baud code of the serial port (0..6 = 2400..115200 baud)")
      ->transform(NumberIn(0, 6, "baud codes"))
      ->capture_default_str()
      ->needs(serial);
  app.add_option("--id", link->terminal_id, "Terminal ID (0..255)")
      ->transform(NumberIn(0, 255, "terminal IDs"))
      ->capture_default_str();
  app.add_flag("--wake", link->wake, "Wake a sleeping terminal first (serial; takes about 5 s)")
      ->needs(serial);
  bool json = false;
  bool csv = false;
  auto* json_flag = app.add_flag("--json", json, "Print records as JSON");
  app.add_flag("--csv", csv, "Print records as CSV with a header row")->excludes(json_flag);
  app.add_flag("--quiet,-q", context.quiet, "No progress bar");
  auto ceilings = std::make_shared<ReadCeilings>();
  app.add_option("--max-log-records", ceilings->log_records,
                 "Most log records a read may allocate for; a terminal announcing more is refused")
      ->transform(DecimalOrHex())
      ->capture_default_str();
  app.add_option("--max-enrolments", ceilings->enrolments,
                 "Most users or administrators a listing may allocate for")
      ->transform(DecimalOrHex())
      ->capture_default_str();

  AddControlCommands(app, context);
  AddEnrolmentCommands(app, context);
  AddLogCommands(app, context);
  AddBackupCommands(app, context);

  // The callbacks read the output format, so it is settled before they run.
  app.parse_complete_callback([&] {
    context.format = json ? OutputFormat::kJson : csv ? OutputFormat::kCsv : OutputFormat::kTable;
    g_format = context.format;
    if (*tcp) link->tcp_address = *tcp_address;
    if (*serial) link->serial_port = ParseSerialPort(*serial_port);
    context.link = *link;
    SetReadCeilings(*ceilings);
  });

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) return app.exit(error);  // --help, --version
    std::cerr << UsageMessage(app, error);
    return kExitUsage;
  }
  if (!context.action) return kExitOk;

  EnableProgress(context.quiet);
  if (int status = OpenLink(context.link); status != kExitOk) return status;
  int status = RunAction(context);
  if (int closed = CloseLink(); closed != kExitOk && status == kExitOk) status = closed;
  return status;
}

}  // namespace pq640admin

#include "transport/CommunicationInterfaceDataSpy.h"

#include <algorithm>
#include <cctype>
#include <mutex>

namespace zorvid {
namespace {

std::mutex sinkMutex;
TSpySink spySink;  // guarded by sinkMutex

std::string_view Trimmed(std::string_view text) {
  const auto isSpace = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!text.empty() && isSpace(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back()))
    text.remove_suffix(1);
  return text;
}

}  // namespace

void SetSpySink(const TSpySink& sink) {
  std::lock_guard guard(sinkMutex);
  spySink = sink;
}

TSpySink GetSpySink() {
  std::lock_guard guard(sinkMutex);
  return spySink;
}

void TCommunicationInterfaceDataSpy::SpySent(const TByteString& data) {
  Spy(kSpySent, data);
  TCommunicationInterface::SpySent(data);
}

void TCommunicationInterfaceDataSpy::SpyReceived(const TByteString& data) {
  Spy(kSpyReceived, data);
  TCommunicationInterface::SpyReceived(data);
}

void TCommunicationInterfaceDataSpy::Spy(TByte direction, const TByteString& data) {
  const TSpySink sink = GetSpySink();
  if (!sink) return;
  try {
    sink(Self(), data, direction);
  } catch (...) {
    // The log must never break the line.
  }
}

bool IsDstSwitch(std::string_view argument) {
  argument = Trimmed(argument);
  if (!argument.empty() && (argument.front() == '/' || argument.front() == '-'))
    argument.remove_prefix(1);
  return argument.size() == 3 &&
         std::equal(argument.begin(), argument.end(), "DST", [](char a, char b) {
           return std::toupper(static_cast<unsigned char>(a)) == b;
         });
}

bool HasDstSwitch(int argc, const char* const* argv) {
  for (int i = 0; i < argc; ++i)
    if (argv[i] && IsDstSwitch(argv[i])) return true;
  return false;
}

bool InstallDstForwarderIfRequested(int argc, const char* const* argv) {
  if (!HasDstSwitch(argc, argv)) return false;
  SetSpySink(DstForwarderSink());
  return true;
}

}  // namespace zorvid

#include "capture/PcapngWriter.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "core/EchoText.h"

namespace zorvid {
namespace {

constexpr std::uint32_t kSectionHeaderBlock = 0x0A0D0D0A;
constexpr std::uint32_t kInterfaceDescriptionBlock = 1;
constexpr std::uint32_t kEnhancedPacketBlock = 6;
constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;

constexpr std::uint16_t kEndOfOptions = 0;
constexpr std::uint16_t kInterfaceName = 2;        // if_name
constexpr std::uint16_t kTimestampResolution = 9;  // if_tsresol
constexpr std::uint16_t kPacketFlags = 2;          // epb_flags
constexpr TByte kMicroseconds = 6;                 // if_tsresol: 10^-6 s

constexpr std::string_view kInterfaceText = "korvel";
// No limit on the bytes captured per packet: every record is kept whole.
constexpr std::uint32_t kNoSnapLength = 0;

// `value` in its `size` lowest bytes, the lowest first.
std::string LittleEndian(std::uint64_t value, int size) {
  std::string bytes;
  for (int i = 0; i < size; ++i)
    bytes.push_back(static_cast<char>(value >> (8 * i) & 0xFF));
  return bytes;
}

// One block being put together: its fields in order, its length filled in last.
class TBlock {
 public:
  explicit TBlock(std::uint32_t type) {
    Put32(type);
    Put32(0);  // the total length, once known
  }

  void Put16(std::uint16_t value) { bytes_ += LittleEndian(value, 2); }
  void Put32(std::uint32_t value) { bytes_ += LittleEndian(value, 4); }
  void Put64(std::uint64_t value) { bytes_ += LittleEndian(value, 8); }

  // Bytes padded with zeros to the next multiple of four, as every field of a block is.
  void PutPadded(std::string_view bytes) {
    bytes_.append(bytes);
    bytes_.append((4 - bytes.size() % 4) % 4, '\0');
  }

  void PutOption(std::uint16_t code, std::string_view value) {
    Put16(code);
    Put16(static_cast<std::uint16_t>(value.size()));
    PutPadded(value);
  }

  // The block ends with its total length, which also stands in its second field, so that a
  // reader can skip it from either side.
  void Finish(std::ostream& out) {
    const auto total = static_cast<std::uint32_t>(bytes_.size() + 4);
    Put32(total);
    bytes_.replace(4, 4, LittleEndian(total, 4));
    out.write(bytes_.data(), static_cast<std::streamsize>(bytes_.size()));
  }

 private:
  std::string bytes_;
};

void WriteSectionHeader(std::ostream& out) {
  TBlock block(kSectionHeaderBlock);
  block.Put32(kByteOrderMagic);
  block.Put16(1);                  // major version
  block.Put16(0);                  // minor version
  block.Put64(~std::uint64_t{0});  // the section's length is not given
  block.Finish(out);
}

void WriteInterface(std::ostream& out) {
  TBlock block(kInterfaceDescriptionBlock);
  block.Put16(kKorvelLinkType);
  block.Put16(0);  // reserved
  block.Put32(kNoSnapLength);
  block.PutOption(kInterfaceName, kInterfaceText);
  block.PutOption(kTimestampResolution, LittleEndian(kMicroseconds, 1));
  block.PutOption(kEndOfOptions, {});
  block.Finish(out);
}

std::uint64_t Microseconds(TTrafficTime time) {
  const auto count =
      std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count();
  return static_cast<std::uint64_t>(std::max<std::int64_t>(count, 0));
}

std::uint32_t DirectionFlags(TTrafficDirection direction) {
  return direction == TTrafficDirection::kFromDisplay ? kPcapngInbound : kPcapngOutbound;
}

void WritePacket(std::ostream& out, std::string_view bytes, std::uint64_t time,
                 std::uint32_t flags) {
  TBlock block(kEnhancedPacketBlock);
  block.Put32(0);  // the one interface
  block.Put32(static_cast<std::uint32_t>(time >> 32));
  block.Put32(static_cast<std::uint32_t>(time));
  block.Put32(static_cast<std::uint32_t>(bytes.size()));  // captured
  block.Put32(static_cast<std::uint32_t>(bytes.size()));  // on the line
  block.PutPadded(bytes);
  block.PutOption(kPacketFlags, LittleEndian(flags, 4));
  block.PutOption(kEndOfOptions, {});
  block.Finish(out);
}

std::ofstream CreateFile(const std::string& path) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file.is_open())
    throw std::runtime_error("cannot create the capture file " + Quoted(path) + ": " +
                             std::strerror(errno));
  return file;
}

}  // namespace

TPcapngWriter::TPcapngWriter(std::ostream& out) : out_(out) {
  WriteSectionHeader(out_);
  WriteInterface(out_);
}

void TPcapngWriter::Write(const TTrafficRecord& record) {
  const std::string_view bytes = record.bytes;
  const std::uint64_t time = Microseconds(record.time);
  const std::uint32_t flags = DirectionFlags(record.direction);
  // An empty record still marks its moment.
  std::size_t at = 0;
  do {
    WritePacket(out_, bytes.substr(at, kPcapngMaxPacket), time, flags);
    at += kPcapngMaxPacket;
  } while (at < bytes.size());
}

TPcapngFile::TPcapngFile(std::string path)
    : path_(std::move(path)), file_(CreateFile(path_)), writer_(file_) {
  CheckWritten("write the header");
  if (!failure_.empty()) throw std::runtime_error(failure_);
}

bool TPcapngFile::Write(const std::vector<TTrafficRecord>& records) {
  if (!failure_.empty()) return false;
  for (const TTrafficRecord& record : records)
    writer_.Write(record);
  CheckWritten("write");
  return failure_.empty();
}

void TPcapngFile::CheckWritten(const char* what) {
  file_.flush();
  if (file_.good()) return;
  failure_ = std::string("cannot ") + what + " to the capture file " + Quoted(path_) + ": " +
             std::strerror(errno);
}

}  // namespace zorvid

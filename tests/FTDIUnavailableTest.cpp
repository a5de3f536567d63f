// The USB transport when the bridge library cannot be used. Built twice: without the stand-in
// on the library path (nothing is loaded), and with ZORVID_FTDI_MISSING_ENTRY naming the entry
// point that the stand-in found on the path lacks. Either way the library counts as unavailable,
// the enumeration reports it and opening fails, without a crash.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/support/TransportObserver.h"
#include "transport/FTDIDirect.h"

namespace zorvid {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr std::size_t kLookups = 16;  // the entry points the program calls
#ifdef ZORVID_FTDI_MISSING_ENTRY
const std::string kReason = "library libftd2xx.so lacks " ZORVID_FTDI_MISSING_ENTRY;
#else
const std::string kReason = "library not found: tried libftd2xx.so, libftd2xx.so.1";
#endif

TEST(FTDIUnavailableTest, TheBindingSaysWhatIsMissing) {
  EXPECT_FALSE(Ftd2xx().Available());
  EXPECT_EQ(Ftd2xx().UnavailableReason(), kReason);
#ifdef ZORVID_FTDI_MISSING_ENTRY
  EXPECT_TRUE(Ftd2xx().loaded);
  EXPECT_EQ(Ftd2xx().missingNames, ZORVID_FTDI_MISSING_ENTRY "\r");
  EXPECT_NE(Ftd2xx().entry.FT_OpenEx, nullptr);
#else
  EXPECT_FALSE(Ftd2xx().loaded);
  const std::string& missing = Ftd2xx().missingNames;
  EXPECT_EQ(static_cast<std::size_t>(std::count(missing.begin(), missing.end(), '\r')), kLookups);
  EXPECT_TRUE(missing.starts_with("FT_Write\rFT_Close\rFT_Read\r")) << missing;
  EXPECT_TRUE(missing.ends_with("FT_SetEventNotification\r")) << missing;
#endif
}

TEST(FTDIUnavailableTest, AnEntryPointNotFoundYieldsItsStatus) {
  EXPECT_EQ(FtCall(Ftd2xx().entry.FT_SetDtr, nullptr), kFtEntryPointNotFound);
}

TEST(FTDIUnavailableTest, TheEnumerationFindsNothingAndSaysWhy) {
  EXPECT_EQ(GetUSBDeviceCount(), -1);
  EXPECT_EQ(GetUSBLastErrorMessage(), "Library libftd2xx.so was not loaded.");
  std::uint32_t length = 0;
  EXPECT_EQ(GetUSBSerialNumber(0, nullptr, length), kUsbLibraryNotAvailable);
  EXPECT_EQ(GetUSBDescription(0, nullptr, length), kUsbLibraryNotAvailable);
  TUsbDeviceList list{{"stale", 0}};
  FillUSBDeviceList(list);
  EXPECT_THAT(list, IsEmpty());
  EXPECT_EQ(GetUSBItemSerialNumber({{"listed", 0}}, 0), "");
}

TEST(FTDIUnavailableTest, OpeningFailsAndTheDeviceStaysUsable) {
  test::TTransportObserver observer;
  auto device = New<TFTDIDevice>();
  observer.Attach(*device);
  device->SetConfiguration("serial_number=ABC;baudrate=9600");
  EXPECT_FALSE(device->Open());
  EXPECT_FALSE(device->GetActive());
  EXPECT_EQ(device->GetFailureReason(), kReason);
  EXPECT_THAT(observer.Errors(), ElementsAre(test::TErrorReport{"Open"}));
  EXPECT_EQ(device->Write("x"), 0);
  EXPECT_EQ(device->Read(), "");
  EXPECT_EQ(device->InBuffUsed(), 0);
  EXPECT_TRUE(device->ApplyParity(TParity::Odd));
  EXPECT_EQ(device->GetConfiguration(),
            "provider=FTD_USB;serial_number=ABC;baudrate=9600;databits=8;stopbits=One;"
            "parity=Odd;dtr=-1;rts=-1");
}

}  // namespace
}  // namespace zorvid

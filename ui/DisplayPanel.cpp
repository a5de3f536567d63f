#include "ui/DisplayPanel.h"

#include <QColor>
#include <QPoint>
#include <array>
#include <optional>

#include "ui/controls/ShapeEx.h"

namespace zorvid {
namespace {

// ---- what a tag means ----

// Tags 1BD name bit D of byte B; every other tag is a decoration.
constexpr int kBitTagBase = 100;
constexpr int kBitsPerByte = 8;

struct TBitPosition {
  std::size_t Byte = 0;
  int Bit = 0;
};

int BitTag(std::size_t byte, int bit) {
  return kBitTagBase + 10 * static_cast<int>(byte) + bit;
}

std::optional<TBitPosition> BitOfTag(int tag) {
  if (tag / kBitTagBase != 1) return std::nullopt;
  const auto byte = static_cast<std::size_t>(tag % kBitTagBase / 10);
  const int bit = tag % 10;
  if (byte >= kDisplayDataSize || bit >= kBitsPerByte) return std::nullopt;
  return TBitPosition{byte, bit};
}

// Bytes the data does not reach read as zero.
bool IsBitSet(const TByteString& bytes, TBitPosition position) {
  return position.Byte < bytes.size() && ((ByteAt(bytes, position.Byte) >> position.Bit) & 1) != 0;
}

// ---- where the shapes lie (logical pixels) ----

constexpr QSize kBackingSize(89, 137);
constexpr std::array<QPoint, 4> kDigitOrigins = {QPoint(24, 8), QPoint(120, 8), QPoint(232, 8),
                                                 QPoint(328, 8)};
// Relative to the top left of the digit's backing, by bit.
constexpr std::array<QRect, kBitsPerByte> kSegmentPlaces = {
    QRect(16, 8, 49, 13), QRect(60, 16, 13, 49), QRect(60, 68, 13, 49), QRect(16, 112, 49, 13),
    QRect(8, 68, 13, 49), QRect(8, 16, 13, 49),  QRect(16, 60, 49, 13), QRect(72, 112, 13, 13)};
// Large enough to round the bars' ends fully and to make the LEDs and decimal points discs.
constexpr int kSegmentCorner = 16;

constexpr QSize kLedSize(13, 13);
struct TLedPlace {
  const char* Name;
  QPoint TopLeft;
  int Bit;  // in byte 0
  bool Green;
};
constexpr std::array<TLedPlace, 4> kLedPlaces = {
    {{"shLedGreenLeft", QPoint(6, 80), 0, true},
     {"shLedRedLeft", QPoint(6, 56), 1, false},
     {"shLedRedMiddleLower", QPoint(214, 80), 2, false},
     {"shLedRedMiddleUpper", QPoint(214, 56), 3, false}}};

// ---- colours ----

const QColor kGrey(128, 128, 128);
const QColor kSilver(192, 192, 192);

struct TSchemaColors {
  QColor Up;
  QColor Down;
  QColor Disabled;
  QColor DisabledBorder;
};

// Borders are black except when disabled; text is black throughout. The mouse-over and pressed
// styles keep their white brush and black border, never shown because both switches stay off.
TShapeExColorSchema* NewSchema(QObject* owner, const char* name, const TSchemaColors& colors) {
  auto* schema = new TShapeExColorSchema(owner);
  schema->setObjectName(name);
  schema->SetDefaultColorStyle({colors.Up, Qt::black, Qt::black});
  schema->SetDownColorStyle({colors.Down, Qt::black, Qt::black});
  schema->SetDisabledColorStyle({colors.Disabled, colors.DisabledBorder, Qt::black});
  schema->SetMouseOverEnabled(false);
  schema->SetPressedEnabled(false);
  return schema;
}

}  // namespace

TDisplayPanel::TDisplayPanel(QWidget* parent) : QWidget(parent) {
  setObjectName("pnlDisplay");
  auto* displaySchema = NewSchema(this, "shexcsDisplay",
                                  {kSilver, QColor(255, 73, 53), QColor(224, 224, 224), kGrey});
  auto* greenLedSchema = NewSchema(
      this, "shexcsGreenLed", {QColor(0, 128, 0), QColor(0, 255, 0), QColor(192, 255, 192), kGrey});
  auto* redLedSchema = NewSchema(
      this, "shexcsRedLed", {QColor(128, 0, 0), QColor(255, 0, 0), QColor(255, 192, 192), kGrey});
  auto* backSchema = NewSchema(this, "shexcsDisplayBack", {kGrey, Qt::white, kSilver, Qt::black});

  // Backings first: later siblings lie on top, so the segments stay visible and clickable.
  AddBackings(backSchema);
  AddLeds(greenLedSchema, redLedSchema);
  AddDigitSegments(displaySchema);

  QRect shapes;
  for (const QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    shapes |= child->geometry();
  extent_ = QSize(shapes.right() + 1, shapes.bottom() + 1);
  setFixedSize(extent_);
}

QSize TDisplayPanel::sizeHint() const {
  return extent_;
}

TShapeEx* TDisplayPanel::AddShape(const QString& name, const QRect& geometry, int tag,
                                  TShapeExColorSchema* schema) {
  auto* shape = new TShapeEx(this);
  shape->setObjectName(name);
  shape->setGeometry(geometry);
  shape->SetColorSchema(schema);
  shape->SetTag(tag);
  // Each bit has a tag of its own, so no segment or LED ever releases another.
  shape->SetGroup(tag);
  return shape;
}

TShapeEx* TDisplayPanel::AddBitShape(const QString& name, const QRect& geometry, std::size_t byte,
                                     int bit, TShapeExColorSchema* schema) {
  TShapeEx* shape = AddShape(name, geometry, BitTag(byte, bit), schema);
  shape->SetShape(stRoundRect);
  shape->SetRoundCorner(kSegmentCorner);
  shape->SetAllowDown(true);
  shape->SetAllowUp(true);
  connect(shape, &TShapeEx::mouseUp, this, &TDisplayPanel::segmentReleased);
  return shape;
}

void TDisplayPanel::AddBackings(TShapeExColorSchema* schema) {
  for (std::size_t digit = 0; digit < kDigitOrigins.size(); ++digit) {
    TShapeEx* backing = AddShape(QString("shBack%1").arg(digit + 1),
                                 QRect(kDigitOrigins[digit], kBackingSize), 0, schema);
    backing->SetShape(stRectangle);
  }
}

void TDisplayPanel::AddLeds(TShapeExColorSchema* greenSchema, TShapeExColorSchema* redSchema) {
  for (const TLedPlace& led : kLedPlaces) {
    AddBitShape(led.Name, QRect(led.TopLeft, kLedSize), 0, led.Bit,
                led.Green ? greenSchema : redSchema);
  }
}

void TDisplayPanel::AddDigitSegments(TShapeExColorSchema* schema) {
  for (std::size_t digit = 0; digit < kDigitOrigins.size(); ++digit) {
    const std::size_t byte = digit + 1;
    for (int bit = 0; bit < kBitsPerByte; ++bit) {
      AddBitShape(QString("shDigit%1Bit%2").arg(byte).arg(bit),
                  kSegmentPlaces[bit].translated(kDigitOrigins[digit]), byte, bit, schema);
    }
  }
}

void TDisplayPanel::ShowDisplayData(const TByteString& bytes) {
  for (TShapeEx* shape : findChildren<TShapeEx*>(Qt::FindDirectChildrenOnly)) {
    if (const auto position = BitOfTag(shape->Tag())) shape->SetDown(IsBitSet(bytes, *position));
  }
}

TByteString TDisplayPanel::CollectDisplayData() const {
  TByteString bytes(kDisplayDataSize, '\0');
  for (const TShapeEx* shape : findChildren<TShapeEx*>(Qt::FindDirectChildrenOnly)) {
    const auto position = BitOfTag(shape->Tag());
    if (!position || !shape->Down()) continue;
    bytes[position->Byte] =
        static_cast<char>(ByteAt(bytes, position->Byte) | (1U << position->Bit));
  }
  return bytes;
}

}  // namespace zorvid

#include "tools/ctl/CtlOutput.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <cmath>
#include <utility>

#include "core/EchoText.h"
#include "tools/ctl/CtlText.h"

namespace zorvid::ctl {
namespace {

TCtlField BytesField(std::string key, TFieldKind kind, std::string bytes) {
  return {std::move(key), kind, std::move(bytes), 0, 0, {}};
}

TCtlField NumberField(std::string key, TFieldKind kind, std::int64_t number) {
  return {std::move(key), kind, {}, number, 0, {}};
}

std::string KeyValueText(const TCtlField& field) {
  return field.key + "=" + FieldText(field);
}

QString JsonText(std::string_view bytes) {
  const std::string text = Utf8Text(bytes);
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QJsonValue FieldJson(const TCtlField& field) {
  switch (field.kind) {
    case TFieldKind::kText:
    case TFieldKind::kHexSpaced:
    case TFieldKind::kHexPacked:
      return JsonText(FieldText(field));
    case TFieldKind::kInteger:
    case TFieldKind::kHexByte:
    case TFieldKind::kAddress:
      return static_cast<qint64>(field.number);
    case TFieldKind::kBit:
    case TFieldKind::kOnOff:
      return field.number != 0;
    case TFieldKind::kTenths:
      // To the tenths that the text form shows.
      return std::round(field.real * 10) / 10;
    case TFieldKind::kGroup:
    case TFieldKind::kRecord: {
      QJsonObject parts;
      for (const TCtlField& part : field.parts)
        parts.insert(JsonText(part.key), FieldJson(part));
      return parts;
    }
    case TFieldKind::kList: {
      QJsonArray parts;
      for (const TCtlField& part : field.parts)
        parts.append(FieldJson(part));
      return parts;
    }
    case TFieldKind::kDocument:
      return QJsonDocument::fromJson(QByteArray::fromStdString(field.bytes)).object();
  }
  return {};
}

std::string JsonLine(const QJsonObject& object) {
  return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString() + "\n";
}

std::string Joined(const std::vector<TCtlField>& fields, char separator,
                   std::string (*text)(const TCtlField&)) {
  std::string joined;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) joined += separator;
    joined += text(fields[i]);
  }
  return joined;
}

std::string JoinedPairs(const std::vector<TCtlField>& fields, char separator) {
  return Joined(fields, separator, KeyValueText);
}

std::string RowText(const TCtlField& field) {
  return field.key + " " + FieldText(field);
}

}  // namespace

TCtlField TextField(std::string key, std::string bytes) {
  return BytesField(std::move(key), TFieldKind::kText, std::move(bytes));
}
TCtlField HexSpacedField(std::string key, std::string bytes) {
  return BytesField(std::move(key), TFieldKind::kHexSpaced, std::move(bytes));
}
TCtlField HexPackedField(std::string key, std::string bytes) {
  return BytesField(std::move(key), TFieldKind::kHexPacked, std::move(bytes));
}
TCtlField IntegerField(std::string key, std::int64_t number) {
  return NumberField(std::move(key), TFieldKind::kInteger, number);
}
TCtlField HexByteField(std::string key, std::int64_t number) {
  return NumberField(std::move(key), TFieldKind::kHexByte, number);
}
TCtlField BitField(std::string key, bool flag) {
  return NumberField(std::move(key), TFieldKind::kBit, flag ? 1 : 0);
}
TCtlField OnOffField(std::string key, bool flag) {
  return NumberField(std::move(key), TFieldKind::kOnOff, flag ? 1 : 0);
}
TCtlField TenthsField(std::string key, double real) {
  return {std::move(key), TFieldKind::kTenths, {}, 0, real, {}};
}
TCtlField AddressField(std::string key, std::int64_t address) {
  return NumberField(std::move(key), TFieldKind::kAddress, address);
}
TCtlField GroupField(std::string key, std::vector<TCtlField> parts) {
  return {std::move(key), TFieldKind::kGroup, {}, 0, 0, std::move(parts)};
}
TCtlField RecordField(std::string key, std::vector<TCtlField> parts) {
  return {std::move(key), TFieldKind::kRecord, {}, 0, 0, std::move(parts)};
}
TCtlField ListField(std::string key, std::vector<TCtlField> parts) {
  return {std::move(key), TFieldKind::kList, {}, 0, 0, std::move(parts)};
}
TCtlField DocumentField(std::string key, std::string json) {
  if (json.ends_with('\n')) json.pop_back();
  return BytesField(std::move(key), TFieldKind::kDocument, std::move(json));
}

std::string FieldText(const TCtlField& field) {
  switch (field.kind) {
    case TFieldKind::kText:
      return EscapeControls(field.bytes);
    case TFieldKind::kHexSpaced:
      return FormatHexSpaced(field.bytes);
    case TFieldKind::kHexPacked:
      return FormatHexPacked(field.bytes);
    case TFieldKind::kInteger:
      return std::to_string(field.number);
    case TFieldKind::kHexByte:
      return FormatHexPacked(std::string(1, static_cast<char>(field.number)));
    case TFieldKind::kBit:
      return field.number != 0 ? "1" : "0";
    case TFieldKind::kOnOff:
      return field.number != 0 ? "on" : "off";
    case TFieldKind::kTenths:
      return FormatTenths(field.real);
    case TFieldKind::kAddress:
      return "0x" + FormatHexPacked(std::string(1, static_cast<char>(field.number)));
    case TFieldKind::kGroup:
      return JoinedPairs(field.parts, ' ');
    case TFieldKind::kRecord:
      return Joined(field.parts, ' ', FieldText);
    case TFieldKind::kList:
      return Joined(field.parts, '\n', FieldText);
    case TFieldKind::kDocument:
      return field.bytes;
  }
  return {};
}

std::string FormatText(const TCtlResult& result) {
  switch (result.layout) {
    case TLayout::kSilent:
      return {};
    case TLayout::kBare:
      return result.fields.empty() ? "\n" : FieldText(result.fields.front()) + "\n";
    case TLayout::kInline:
      return JoinedPairs(result.fields, ' ') + "\n";
    case TLayout::kLines:
      return JoinedPairs(result.fields, '\n') + "\n";
    case TLayout::kRows:
      return result.fields.empty() ? "" : Joined(result.fields, '\n', RowText) + "\n";
    case TLayout::kList:
      return result.fields.empty() || result.fields.front().parts.empty()
                 ? ""
                 : FieldText(result.fields.front()) + "\n";
  }
  return {};
}

std::string FormatJson(std::string_view command, const TCtlResult& result) {
  QJsonObject object{{"ok", true}, {"command", JsonText(command)}};
  for (const TCtlField& field : result.fields)
    object.insert(JsonText(field.key), FieldJson(field));
  return JsonLine(object);
}

namespace {

QJsonObject OutcomeJson(const TOutcome& outcome) {
  QJsonObject json{{"kind", JsonText(KindName(outcome.kind))},
                   {"step", JsonText(RuleOf(outcome.step).name)},
                   {"address", outcome.address},
                   {"tries", outcome.tries}};
  if (outcome.kind == TOutcomeKind::kRefused) json.insert("ack", outcome.ack);
  if (outcome.invalid) {
    json.insert("field", JsonText(FieldKey(outcome.invalid->field)));
    json.insert("value", static_cast<qint64>(outcome.invalid->value));
    json.insert("min", static_cast<qint64>(outcome.invalid->min));
    json.insert("max", static_cast<qint64>(outcome.invalid->max));
  }
  if (!outcome.reason.empty()) json.insert("reason", JsonText(outcome.reason));
  return json;
}

}  // namespace

std::string FormatJsonFailure(std::string_view command, int exitCode, std::string_view message,
                              const std::optional<TOutcome>& outcome) {
  QJsonObject json{{"ok", false},
                   {"command", JsonText(command)},
                   {"exit", exitCode},
                   {"error", JsonText(message)}};
  if (outcome) json.insert("outcome", OutcomeJson(*outcome));
  return JsonLine(json);
}

}  // namespace zorvid::ctl

// Script replies made of plain values, for the runners that build their replies themselves
// (Notes' database, the stand-in's folder list) rather than translate another's.
#pragma once

#include "sheafwright/date.h"
#include "sheafwright/script_runner.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace sheafwright {

// A value of a reply: a text (its own, or shared so that a note's body is not copied), a date,
// a boolean, or nothing.
class ValueDescriptor : public ScriptDescriptor {
 public:
  using Value =
      std::variant<std::monostate, std::string, std::shared_ptr<const std::string>, Date, bool>;
  explicit ValueDescriptor(Value value) : value_(std::move(value)) {}
  std::int64_t numberOfItems() const override { return 0; }
  std::unique_ptr<ScriptDescriptor> item(std::int64_t) const override { return nullptr; }
  std::optional<std::string> stringValue() const override {
    if (const auto* text = std::get_if<std::string>(&value_)) {
      return *text;
    }
    if (const auto* shared = std::get_if<std::shared_ptr<const std::string>>(&value_)) {
      return **shared;
    }
    return std::nullopt;
  }
  std::optional<Date> dateValue() const override {
    const auto* date = std::get_if<Date>(&value_);
    return date ? std::optional<Date>(*date) : std::nullopt;
  }
  std::optional<bool> booleanValue() const override {
    const auto* flag = std::get_if<bool>(&value_);
    return flag ? std::optional<bool>(*flag) : std::nullopt;
  }

 private:
  Value value_;
};

// A list of values made when it is asked for.
class ListDescriptor : public ScriptDescriptor {
 public:
  explicit ListDescriptor(std::vector<ValueDescriptor::Value> values)
      : values_(std::move(values)) {}
  std::int64_t numberOfItems() const override { return static_cast<std::int64_t>(values_.size()); }
  std::unique_ptr<ScriptDescriptor> item(std::int64_t index) const override {
    if (index < 1 || index > numberOfItems()) {
      return nullptr;
    }
    return std::make_unique<ValueDescriptor>(values_[static_cast<std::size_t>(index - 1)]);
  }
  std::optional<std::string> stringValue() const override { return std::nullopt; }
  std::optional<Date> dateValue() const override { return std::nullopt; }

 private:
  std::vector<ValueDescriptor::Value> values_;
};

}  // namespace sheafwright

// The escaped translation's texts: each placeholder the page prints becomes the PHP that prints
// its expression escaped for the HTML context where it stands (the page model's answer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "src/model/html_context.h"

namespace zoqc {

// The contexts of every "{name}" and "{!name}" of a template, and the texts made from them,
// which live as long as this.
class TEscaping {
 public:
  explicit TEscaping(std::string_view ATemplate);

  // The text that replaces the placeholder at template offset AAt, made from its unescaped
  // text AText (APrefix bytes, the expression, ASuffix bytes): the same with the expression
  // escaped, or AText itself for a "{!name}" (ARaw).
  std::string_view Text(std::size_t AAt, std::string_view AText, std::size_t APrefix,
                        std::size_t ASuffix, bool ARaw);
  // The context of the placeholder at template offset AAt, or null when none stands there.
  const THtmlContext* At(std::size_t AAt) const;
  // The contexts of all the template's placeholders.
  const TTemplateContexts& Contexts() const { return Places; }

 private:
  TTemplateContexts Places;
  std::deque<std::string> Texts;     // what Text made; a deque never moves them
  std::vector<std::uint32_t> Kinds;  // per placeholder: its context's number, equal contexts alike
  // (context number, the unescaped text's address and size) -> the text made for them
  struct TKey {
    std::uint32_t Kind;
    const char* Text;
    std::size_t Size;
    bool operator==(const TKey&) const = default;
  };
  struct TKeyHash {
    std::size_t operator()(const TKey& AKey) const {
      return std::hash<const char*>()(AKey.Text) ^ (std::size_t{AKey.Kind} * 0x9E3779B97F4A7C15u);
    }
  };
  std::unordered_map<TKey, std::string_view, TKeyHash> Made;
};

}  // namespace zoqc

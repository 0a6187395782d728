// Pages of recovery-sim: a named template of tools/recovery-sim/html/ (built into the tool)
// rendered with mustache data. The markup lives in the templates; the C++ that fills them gives
// only values. Every {{value}} is HTML-escaped: part names and file names come from the user.
#pragma once

#include <kainjow/mustache.hpp>

#include <cstdint>
#include <span>
#include <string>

namespace rsim {

using HtmlData = kainjow::mustache::data;

// Renders template `name` ("rehearsal.html") with `data`. Every other template is a partial of it
// by its file name: {{> head.html}} opens a page (title from {{title}}, the stylesheet inline) and
// {{> foot.html}} closes it. Throws std::logic_error for an unknown or malformed template.
std::string render_html(const std::string& name, const HtmlData& data);

// "data:audio/wav;base64,...": a file embedded in the page, so that it needs nothing beside it.
std::string data_uri(const std::string& mime, std::span<const std::uint8_t> bytes);

// A coordinate or length for SVG: one decimal, no trailing zeros ("12.5", "40").
std::string svg_number(double v);

// A mustache list from a range: `item` turns each element into its data.
template <typename Range, typename Fn>
HtmlData html_list(const Range& range, Fn item) {
  HtmlData list{HtmlData::type::list};
  for (const auto& x : range) list.push_back(item(x));
  return list;
}

}  // namespace rsim

#include "sample/HttpMessage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "platform/Text.h"

namespace kestrane::http_detail {

namespace {

bool ContainsTokenNoCase(std::string_view list, std::string_view token) {
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t comma = list.find(',', start);
    if (comma == std::string_view::npos)
      comma = list.size();
    if (EqualsNoCase(Trim(list.substr(start, comma - start)), token))
      return true;
    start = comma + 1;
  }
  return false;
}

ParsedHead Error(int status, const char *reason) {
  ParsedHead p;
  p.errorStatus = status;
  p.errorReason = reason;
  return p;
}

bool IsTokenChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (c >= '0' && c <= '9') || std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool IsToken(std::string_view s) {
  if (s.empty())
    return false;
  for (char c : s)
    if (c == '\0' || !IsTokenChar(c))
      return false;
  return true;
}

// The request line: method, target and version, each checked.
ParsedHead ParseRequestLine(std::string_view requestLine) {
  ParsedHead p;
  const std::size_t sp1 = requestLine.find(' ');
  const std::size_t sp2 = sp1 == std::string_view::npos
                              ? std::string_view::npos
                              : requestLine.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos ||
      requestLine.find(' ', sp2 + 1) != std::string_view::npos)
    return Error(400, "Bad Request");
  HttpRequest &r = p.request;
  r.Method = requestLine.substr(0, sp1);
  r.Target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
  r.Version = requestLine.substr(sp2 + 1);
  if (!IsToken(r.Method) || r.Target.empty() ||
      r.Target.find_first_of(std::string_view("\0\r\t", 3)) !=
          std::string::npos)
    return Error(400, "Bad Request");
  if (r.Version != "HTTP/1.1" && r.Version != "HTTP/1.0")
    return Error(505, "HTTP Version Not Supported");
  return p;
}

// A Content-Length value: up to 18 digits and nothing else.
std::optional<std::size_t> ParseLength(std::string_view value) {
  if (value.empty() || value.size() > 18)
    return std::nullopt;
  std::size_t n = 0;
  for (char c : value) {
    if (c < '0' || c > '9')
      return std::nullopt;
    n = n * 10 + static_cast<std::size_t>(c - '0');
  }
  return n;
}

} // namespace

ParsedHead ParseHead(std::string_view head, std::size_t maxBody) {
  std::vector<TextLine> lines = SplitLines(head, LineEnds::LfOnly);
  // The head ends with its empty line; drop it (and nothing else).
  while (!lines.empty() && lines.back().Text.empty())
    lines.pop_back();
  if (lines.empty())
    return Error(400, "Bad Request");
  ParsedHead p = ParseRequestLine(lines[0].Text);
  if (p.errorStatus != 0)
    return p;
  std::optional<std::size_t> length;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string_view line = lines[i].Text;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !IsToken(line.substr(0, colon)))
      return Error(400, "Bad Request");
    std::string_view name = line.substr(0, colon);
    std::string_view value = Trim(line.substr(colon + 1));
    p.request.Headers.emplace_back(std::string(name), std::string(value));
    if (EqualsNoCase(name, "Transfer-Encoding"))
      return Error(501, "Not Implemented");
    if (EqualsNoCase(name, "Content-Length")) {
      const std::optional<std::size_t> n = ParseLength(value);
      if (!n || (length && *length != *n))
        return Error(400, "Bad Request");
      length = n;
    }
  }
  if (length && *length > maxBody)
    return Error(413, "Payload Too Large");
  p.contentLength = length.value_or(0);
  return p;
}

std::size_t FindHeadEnd(const std::string &buf, std::size_t from) {
  for (std::size_t i = from; i < buf.size(); ++i) {
    if (buf[i] != '\n')
      continue;
    if (i >= 1 && buf[i - 1] == '\n')
      return i + 1;
    if (i >= 3 && buf[i - 1] == '\r' && buf[i - 2] == '\n' &&
        buf[i - 3] == '\r')
      return i + 1;
    // A head that starts with its empty line.
    if (i == 0 || (i == 1 && buf[0] == '\r'))
      return i + 1;
  }
  return std::string::npos;
}

bool RequestWantsClose(const HttpRequest &r) {
  const std::string connection = r.Header("Connection");
  if (ContainsTokenNoCase(connection, "close"))
    return true;
  return r.Version == "HTTP/1.0" &&
         !ContainsTokenNoCase(connection, "keep-alive");
}

bool HasHeader(const HttpHeaders &headers, std::string_view name) {
  for (const auto &h : headers)
    if (EqualsNoCase(h.first, name))
      return true;
  return false;
}

std::string Hex(std::size_t n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%zx", n);
  return buf;
}

std::string EncodeBody(const HttpResponse &r) {
  if (!r.Chunked)
    return r.Body;
  std::string out;
  const std::size_t step = r.ChunkSize == 0 ? r.Body.size() : r.ChunkSize;
  for (std::size_t at = 0; at < r.Body.size(); at += step) {
    const std::size_t len = std::min(step, r.Body.size() - at);
    out += Hex(len);
    out += "\r\n";
    out.append(r.Body, at, len);
    out += "\r\n";
  }
  out += "0\r\n\r\n";
  return out;
}

std::string StatusLine(const HttpResponse &r) {
  return (r.StatusLine.empty()
              ? r.Version + " " + std::to_string(r.Status) + " " + r.Reason
              : r.StatusLine) +
         "\r\n";
}

std::string AnswerHead(const HttpRequest &req, const HttpResponse &r,
                       bool &close) {
  const bool endless = r.Fault == HttpFault::EndlessBody;
  close = r.Close || r.SilentClose || RequestWantsClose(req) ||
          r.Version == "HTTP/1.0" || endless ||
          r.Fault == HttpFault::EndlessHeaders;
  std::string head = StatusLine(r);
  for (const auto &h : r.Headers)
    head += h.first + ": " + h.second + "\r\n";
  if (r.Chunked) {
    head += "Transfer-Encoding: chunked\r\n";
  } else if (r.ContentLength && !endless &&
             !HasHeader(r.Headers, "Content-Length")) {
    head += "Content-Length: " + std::to_string(r.Body.size()) + "\r\n";
  } else if (!r.ContentLength) {
    close = true; // the body ends with the connection
  }
  if ((r.Close || RequestWantsClose(req)) && !r.SilentClose &&
      !HasHeader(r.Headers, "Connection"))
    head += "Connection: close\r\n";
  head += "\r\n";
  return head;
}

} // namespace kestrane::http_detail

namespace kestrane {

std::string HttpRequest::Header(std::string_view name) const {
  for (const auto &h : Headers)
    if (EqualsNoCase(h.first, name))
      return h.second;
  return {};
}

bool HttpRequest::HasHeader(std::string_view name) const {
  return http_detail::HasHeader(Headers, name);
}

HttpResponse HttpResponse::Make(int status, std::string reason,
                                std::string body, std::string contentType) {
  HttpResponse r;
  r.Status = status;
  r.Reason = std::move(reason);
  r.Body = std::move(body);
  if (!contentType.empty())
    r.Headers.emplace_back("Content-Type", std::move(contentType));
  return r;
}

} // namespace kestrane

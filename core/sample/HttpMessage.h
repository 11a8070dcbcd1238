#pragma once
#include <cstddef>
#include <string>
#include <string_view>

#include "sample/HttpServer.h"

// The bytes of HTTP/1.1 for the loopback server: a request's head read and
// checked, an answer's head and body formed. The server's connection loop
// moves these bytes; nothing here touches a socket.
namespace kestrane::http_detail {

// The result of parsing a request head: the request, or the status of the
// error answer that goes out instead.
struct ParsedHead {
  HttpRequest request;
  std::size_t contentLength = 0;
  int errorStatus = 0;
  const char *errorReason = "";
};

// Parses a whole head (request line, header lines, the empty line). A body
// longer than maxBody is refused with 413; a Transfer-Encoding with 501.
ParsedHead ParseHead(std::string_view head, std::size_t maxBody);

// Where the head ends (just past its empty line), searching from `from`;
// npos while it has not arrived. Bare LF line ends are accepted too.
std::size_t FindHeadEnd(const std::string &buf, std::size_t from);

// The client asks for the connection to end after the answer.
bool RequestWantsClose(const HttpRequest &r);

// A header of that name, compared without regard to case.
bool HasHeader(const HttpHeaders &headers, std::string_view name);

// A chunk size as the chunked coding writes it (lower-case hex).
std::string Hex(std::size_t n);

// The body in the transfer coding of the answer (chunks and the last chunk
// for a chunked answer).
std::string EncodeBody(const HttpResponse &r);

// The status line with its CR LF.
std::string StatusLine(const HttpResponse &r);

// The answer's head up to and with its empty line: the status line, the
// handler's headers and the framing headers the server adds itself.
// `close` tells whether the connection ends after this answer.
std::string AnswerHead(const HttpRequest &req, const HttpResponse &r,
                       bool &close);

} // namespace kestrane::http_detail

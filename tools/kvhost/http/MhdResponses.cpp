#include "http/MhdResponses.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/KernelRandom.h"
#include "http/ByteRanges.h"

namespace {

// Parts of several ranges are read into memory; above this the whole file
// is sent from the disk instead.
constexpr uint64_t kMaxBufferedRanges = 4 * 1024 * 1024;

void AddHeaders(MHD_Response* response, NameValues&& headers) {
  AddHardeningHeaders(headers);
  // A header the library refuses (a line break in a value, or one it
  // manages itself such as Content-Length) is left out.
  for (const auto& [name, value] : headers) MHD_add_response_header(response, name.c_str(), value.c_str());
}

std::string ContentRange(const ByteRange& range, uint64_t size) {
  return "bytes " + std::to_string(range.first) + "-" + std::to_string(range.last) + "/" + std::to_string(size);
}

bool ReadAt(int fd, uint64_t offset, uint64_t length, std::string* out) {
  size_t start = out->size();
  out->resize(start + length);
  uint64_t done = 0;
  while (done < length) {
    ssize_t n = pread(fd, out->data() + start + done, length - done, static_cast<off_t>(offset + done));
    if (n <= 0) return false;
    done += static_cast<uint64_t>(n);
  }
  return true;
}

MHD_Response* WholeFile(int fd, uint64_t size, const std::string& contentType, unsigned* status, uint64_t* bytes) {
  MHD_Response* response = MHD_create_response_from_fd64(size, fd);
  if (!response) {
    close(fd);
    return nullptr;
  }
  *status = MHD_HTTP_OK;
  *bytes = size;
  AddHeaders(response, {{"Content-Type", contentType}, {"Accept-Ranges", "bytes"}});
  return response;
}

MHD_Response* SeveralRanges(int fd, uint64_t size, const std::string& contentType, const RangeAnswer& ranges,
                            unsigned* status, uint64_t* bytes) {
  const std::string boundary = "kvrange" + RandomHex(8);
  std::string body;
  for (const ByteRange& range : ranges.ranges) {
    body += "\r\n--" + boundary + "\r\nContent-Type: " + contentType +
            "\r\nContent-Range: " + ContentRange(range, size) + "\r\n\r\n";
    if (!ReadAt(fd, range.first, range.Length(), &body)) {
      close(fd);
      return nullptr;
    }
  }
  body += "\r\n--" + boundary + "--\r\n";
  close(fd);
  HttpAnswer answer;
  answer.headers = {{"Content-Type", "multipart/byteranges; boundary=" + boundary}, {"Accept-Ranges", "bytes"}};
  answer.body = std::move(body);
  *status = MHD_HTTP_PARTIAL_CONTENT;
  *bytes = answer.body.size();
  return ResponseOf(std::move(answer));
}

struct MultipartReading {
  NameValues* fields;
};

MHD_Result OnMultipartData(void* cls, MHD_ValueKind, const char* key, const char* filename, const char*,
                           const char*, const char* data, uint64_t offset, size_t size) {
  NameValues& fields = *static_cast<MultipartReading*>(cls)->fields;
  const bool file = filename && *filename;
  if (offset == 0) fields.emplace_back(key ? key : "", file ? filename : "");
  // An uploaded file's field reads as the file's name.
  if (!file && size) fields.back().second.append(data, size);
  return MHD_YES;
}

}  // namespace

MHD_Response* ResponseOf(HttpAnswer answer) {
  MHD_Response* response =
      MHD_create_response_from_buffer(answer.body.size(), answer.body.data(), MHD_RESPMEM_MUST_COPY);
  if (response) AddHeaders(response, std::move(answer.headers));
  return response;
}

MHD_Response* FileResponse(const std::string& filePath, const std::string& contentType,
                           const std::string& rangeHeader, unsigned* status, uint64_t* bytes) {
  int fd = open(filePath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    close(fd);
    return nullptr;
  }
  const uint64_t size = static_cast<uint64_t>(info.st_size);
  const RangeAnswer ranges = AnswerRange(rangeHeader, size);
  switch (ranges.kind) {
    case RangeAnswer::Whole: return WholeFile(fd, size, contentType, status, bytes);
    case RangeAnswer::Unsatisfiable: {
      close(fd);
      HttpAnswer answer = AnswerPage(MHD_HTTP_RANGE_NOT_SATISFIABLE, "The file has " + std::to_string(size) +
                                                                         " bytes; the range asked for lies beyond.");
      answer.headers.emplace_back("Content-Range", "bytes */" + std::to_string(size));
      *status = answer.status;
      *bytes = answer.body.size();
      return ResponseOf(std::move(answer));
    }
    case RangeAnswer::Partial: break;
  }
  if (ranges.ranges.size() == 1) {
    const ByteRange& range = ranges.ranges.front();
    MHD_Response* response = MHD_create_response_from_fd_at_offset64(range.Length(), fd, range.first);
    if (!response) {
      close(fd);
      return nullptr;
    }
    *status = MHD_HTTP_PARTIAL_CONTENT;
    *bytes = range.Length();
    AddHeaders(response, {{"Content-Type", contentType},
                          {"Accept-Ranges", "bytes"},
                          {"Content-Range", ContentRange(range, size)}});
    return response;
  }
  uint64_t total = 0;
  for (const ByteRange& range : ranges.ranges) total += range.Length();
  if (total > kMaxBufferedRanges) return WholeFile(fd, size, contentType, status, bytes);
  return SeveralRanges(fd, size, contentType, ranges, status, bytes);
}

bool ReadMultipartFields(MHD_Connection* connection, const std::string& body, NameValues* fields) {
  MultipartReading reading{fields};
  MHD_PostProcessor* processor = MHD_create_post_processor(connection, 64 * 1024, OnMultipartData, &reading);
  if (!processor) return false;
  const bool read = MHD_post_process(processor, body.data(), body.size()) == MHD_YES;
  return MHD_destroy_post_processor(processor) == MHD_YES && read;
}

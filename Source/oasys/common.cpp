// What every part of liboasys shares: results and statuses, the filter's codes in our terms, the
// option record, the per-call binding of names, buffers, charsets and the version.
#include "oasys_internal.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "krm_host.h"

namespace oasys {

namespace {

struct StatusInfo {
    oasys_status status;
    const char* name;
    const char* description;
};

// One table: the word of each status in reports and the sentence that describes it.
constexpr StatusInfo kStatuses[] = {
    {OASYS_OK, "ok", "done"},
    {OASYS_OUTPUT_LIMIT, "output-limit", "the maximum output size was reached; the text up to it was kept"},
    {OASYS_NO_TEXT, "no-text", "the document holds no visible text"},
    {OASYS_PASSWORD, "password", "the document is password-protected"},
    {OASYS_NOT_OASYS, "not-oasys", "not an OASYS document"},
    {OASYS_BROKEN, "broken", "the document is broken"},
    {OASYS_UNREADABLE, "unreadable", "the document or one of its files is missing or unreadable"},
    {OASYS_OUTPUT_ERROR, "output-error", "the text could not be written"},
    {OASYS_BAD_ARGUMENT, "usage", "wrong usage: a missing argument, a bad value, an unknown charset"},
};

// FNV-1a over the bytes: the mark that keeps long output names apart once they are cut.
uint32_t nameHash(std::string_view text) {
    uint32_t hash = 2166136261u;
    for (const unsigned char c : text) hash = (hash ^ c) * 16777619u;
    return hash;
}

const StatusInfo* statusInfo(oasys_status status) {
    for (const StatusInfo& info : kStatuses)
        if (info.status == status) return &info;
    return nullptr;
}

constexpr const char* kPackagingNames[] = {"auto", "separated", "combined", "compound"};

void copyMessage(char (&target)[OASYS_MESSAGE_SIZE], const std::string& message) {
    std::snprintf(target, sizeof target, "%s", message.c_str());
}

} // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    reset(std::exchange(other.fd_, -1));
    return *this;
}

bool UniqueFd::close() { return ::close(std::exchange(fd_, -1)) == 0; }

void UniqueFd::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

Outcome::Outcome(oasys_result* result, oasys_packaging packaging) : target_(result) {
    result_.packaging = packaging;
}

oasys_status Outcome::finish(oasys_status status, const std::string& message, int systemError) {
    result_.status = status;
    result_.system_error = systemError;
    copyMessage(result_.message, message);
    if (target_ != nullptr) *target_ = result_;
    return status;
}

oasys_status Outcome::ok() { return finish(OASYS_OK, "done", 0); }

oasys_status Outcome::fail(oasys_status status, const std::string& message, int systemError) {
    return finish(status, message, systemError);
}

std::string systemMessage(const std::string& what, int error) { return what + ": " + std::strerror(error); }

oasys_status statusOfFilterCode(int32_t code, oasys_packaging packaging) {
    switch (code) {
    case KRM_OK: return OASYS_OK;
    case KRM_ERR_OUTPUT_LIMIT: return OASYS_OUTPUT_LIMIT;
    case KRM_ERR_NO_TEXT: return OASYS_NO_TEXT;
    case KRM_ERR_PASSWORD: return OASYS_PASSWORD;
    case KRM_ERR_UNSUPPORTED: return OASYS_NOT_OASYS;
    case KRM_ERR_WRITE: return OASYS_OUTPUT_ERROR;
    // Our sources are open descriptors, so a source the filter cannot open is no compound file
    // when it was to be one; otherwise one of its files went missing or unreadable.
    case KRM_ERR_OPEN: return packaging == OASYS_PACKAGING_COMPOUND ? OASYS_BROKEN : OASYS_UNREADABLE;
    default: return OASYS_BROKEN; // 12, 3000, 3006 and anything unknown
    }
}

std::string causeOfFilterCode(int32_t code) {
    switch (code) {
    case KRM_OK: return "done";
    case KRM_ERR_NO_MEMORY: return "the filter could not allocate its working memory";
    case KRM_ERR_OPEN: return "a file of the document could not be opened";
    case KRM_ERR_WRITE: return "writing the text failed";
    case KRM_ERR_BROKEN: return "the document is broken (damaged structure, failed read or conversion)";
    case KRM_ERR_PASSWORD: return "the document is password-protected";
    case KRM_ERR_UNSUPPORTED: return "the filter does not accept this document";
    case KRM_ERR_NO_TEXT: return "the document holds no visible text";
    case KRM_ERR_OUTPUT_LIMIT: return "the maximum output size was reached; the text up to it was kept";
    case KRM_ERR_LOOP_GUARD: return "the document is broken (a loop passed the loop guard's limit)";
    default: return "the filter returned code " + std::to_string(code);
    }
}

CallBinding::~CallBinding() {
    if (handle_ != 0) KRM_BindingRelease(handle_);
}

oasys_status CallBinding::bind(const oasys_document& document, int outputFd, const char* logPath, Outcome& outcome) {
    char prefix[KRM_BINDING_PREFIX_MAX] = {};
    handle_ = KRM_BindingCreate(prefix, sizeof prefix);
    if (handle_ == 0) return outcome.fail(OASYS_BROKEN, "the host library could not bind the document", ENOMEM);
    prefix_ = prefix;
    bool bound = true;
    if (document.packaging == OASYS_PACKAGING_SEPARATED) {
        const std::string body = document.name + std::string(kBodyExtension);
        const std::string format = document.name + std::string(kFormatExtension);
        if (document.source.valid()) bound = bound && KRM_BindingAddFd(handle_, body.c_str(), document.source.get()) == 0;
        if (document.format.valid()) bound = bound && KRM_BindingAddFd(handle_, format.c_str(), document.format.get()) == 0;
    } else {
        bound = bound && KRM_BindingAddFd(handle_, document.name.c_str(), document.source.get()) == 0;
    }
    if (outputFd >= 0) bound = bound && KRM_BindingAddFd(handle_, kOutputName, outputFd) == 0;
    if (logPath != nullptr) bound = bound && KRM_BindingSetLog(handle_, logPath) == 0;
    if (!bound) return outcome.fail(OASYS_BROKEN, "the host library could not bind the document", ENOMEM);
    return OASYS_OK;
}

std::string CallBinding::sourcePath(const oasys_document& document, bool forProperties) const {
    if (document.packaging != OASYS_PACKAGING_SEPARATED) return path(document.name.c_str());
    return prefix_ + document.name + std::string(forProperties ? kFormatExtension : kBodyExtension);
}

oasys_status membersPresent(const oasys_document& document, bool readsBody, Outcome& outcome) {
    if (document.packaging != OASYS_PACKAGING_SEPARATED) return OASYS_OK;
    if (readsBody && !document.source.valid()) return outcome.fail(OASYS_UNREADABLE, document.sourceMissing);
    if (!document.format.valid()) return outcome.fail(OASYS_UNREADABLE, document.formatMissing);
    return OASYS_OK;
}

oasys_status hostOptionsOf(const oasys_options* options, HostOptions& host, Outcome& outcome) {
    oasys_options defaults;
    oasys_options_init(&defaults);
    const oasys_options& chosen = options != nullptr ? *options : defaults;
    const char* charset = chosen.charset != nullptr ? chosen.charset : "UTF-8";
    if (KRM_CharsetUsable(charset, nullptr) != 1)
        return outcome.fail(OASYS_BAD_ARGUMENT, std::string("unknown output charset ") + charset);
    if (chosen.max_bytes > static_cast<int64_t>(UINT32_MAX))
        return outcome.fail(OASYS_BAD_ARGUMENT, "the maximum output size is at most 4294967295 bytes");
    if (chosen.log_path != nullptr && std::strlen(chosen.log_path) >= KRM_PATH_MAX)
        return outcome.fail(OASYS_BAD_ARGUMENT, "the log path is too long");
    host = HostOptions{};
    std::snprintf(host.outputCharset, sizeof host.outputCharset, "%s", charset);
    if (chosen.ruled_lines) host.optionFlags |= KRM_OPT_RULED_LINES;
    if (chosen.loop_guard) host.optionFlags |= KRM_OPT_LOOP_GUARD;
    if (chosen.log_path != nullptr) host.optionFlags |= KRM_OPT_LOG;
    if (chosen.max_bytes >= 0) {
        host.optionFlags |= KRM_OPT_SIZE_LIMIT;
        host.maxOutputSize = static_cast<uint32_t>(chosen.max_bytes);
    }
    return OASYS_OK;
}

uint16_t formatCodeOf(oasys_packaging packaging) {
    switch (packaging) {
    case OASYS_PACKAGING_SEPARATED: return KRM_FORMAT_SEPARATED;
    case OASYS_PACKAGING_COMBINED: return KRM_FORMAT_COMBINED;
    case OASYS_PACKAGING_COMPOUND: return KRM_FORMAT_COMPOUND;
    default: return 0;
    }
}

bool appendToBuffer(oasys_buffer& buffer, const char* data, size_t size) {
    constexpr size_t kTerminator = 4; // zero bytes after the data: a text in any charset ends there
    if (size > SIZE_MAX - kTerminator - buffer.size) return false;
    const size_t needed = buffer.size + size + kTerminator;
    if (buffer.data == nullptr || needed > buffer.capacity) {
        size_t capacity = buffer.capacity > 0 ? buffer.capacity : 256;
        while (capacity < needed) capacity = capacity > SIZE_MAX / 2 ? needed : capacity * 2;
        void* grown = std::realloc(buffer.data, capacity);
        if (grown == nullptr) return false;
        buffer.data = static_cast<char*>(grown);
        buffer.capacity = capacity;
    }
    if (size > 0) std::memcpy(buffer.data + buffer.size, data, size);
    buffer.size += size;
    std::memset(buffer.data + buffer.size, 0, kTerminator);
    return true;
}

UniqueFd anonymousFile() {
    return UniqueFd(::memfd_create("oasys", MFD_CLOEXEC));
}

} // namespace oasys

extern "C" {

OASYS_API const char* oasys_status_name(oasys_status status) {
    const oasys::StatusInfo* info = oasys::statusInfo(status);
    return info != nullptr ? info->name : "unknown";
}

OASYS_API const char* oasys_status_description(oasys_status status) {
    const oasys::StatusInfo* info = oasys::statusInfo(status);
    return info != nullptr ? info->description : "unknown";
}

OASYS_API const char* oasys_packaging_name(oasys_packaging packaging) {
    const auto index = static_cast<size_t>(packaging);
    return index < std::size(oasys::kPackagingNames) ? oasys::kPackagingNames[index] : nullptr;
}

OASYS_API int oasys_packaging_parse(const char* name, oasys_packaging* packaging) {
    if (name == nullptr || packaging == nullptr) return 0;
    for (size_t i = 0; i < std::size(oasys::kPackagingNames); ++i) {
        if (std::strcmp(name, oasys::kPackagingNames[i]) == 0) {
            *packaging = static_cast<oasys_packaging>(i);
            return 1;
        }
    }
    return 0;
}

OASYS_API void oasys_options_init(oasys_options* options) {
    if (options == nullptr) return;
    *options = oasys_options{};
    options->charset = "UTF-8";
    options->max_bytes = -1;
}

OASYS_API void oasys_buffer_free(oasys_buffer* buffer) {
    if (buffer == nullptr) return;
    std::free(buffer->data);
    *buffer = oasys_buffer{};
}

OASYS_API int oasys_charset_usable(const char* name) { return KRM_CharsetUsable(name, nullptr) == 1 ? 1 : 0; }

OASYS_API int oasys_charset_is_utf8(const char* name) { return KRM_CharsetIsUtf8(name) == 1 ? 1 : 0; }

OASYS_API size_t oasys_charset_unit_size(const char* name) {
    uint32_t unit = 1;
    return KRM_CharsetUsable(name, &unit) == 1 ? unit : 1;
}

OASYS_API oasys_status oasys_charset_list(oasys_name_fn each, void* context) {
    if (each == nullptr) return OASYS_BAD_ARGUMENT;
    KRM_CharsetList(each, context);
    return OASYS_OK;
}

OASYS_API oasys_status oasys_text_from_utf8(const char* charset, const char* text, size_t length,
                                            oasys_buffer* buffer, oasys_result* result) {
    oasys::Outcome outcome(result);
    if (charset == nullptr || (text == nullptr && length != 0) || buffer == nullptr)
        return outcome.fail(OASYS_BAD_ARGUMENT, "a charset, a text and a buffer are needed");
    if (KRM_CharsetUsable(charset, nullptr) != 1)
        return outcome.fail(OASYS_BAD_ARGUMENT, std::string("unknown output charset ") + charset);
    // Four bytes per UTF-8 byte are enough for nearly every charset; the service tells when not.
    std::string converted(length * 4 + 16, '\0');
    size_t produced = 0;
    int32_t convertedOk = KRM_ConvertFromUtf8(charset, text, length, converted.data(), converted.size(), &produced);
    if (convertedOk != 0 && produced > converted.size()) {
        converted.resize(produced);
        convertedOk = KRM_ConvertFromUtf8(charset, text, length, converted.data(), converted.size(), &produced);
    }
    if (convertedOk != 0)
        return outcome.fail(OASYS_BAD_ARGUMENT, std::string("the text cannot be written in ") + charset);
    if (!oasys::appendToBuffer(*buffer, converted.data(), produced))
        return outcome.fail(OASYS_OUTPUT_ERROR, "out of memory", ENOMEM);
    return outcome.ok();
}

OASYS_API size_t oasys_output_name(const char* name, const char* suffix, char* out, size_t out_size) {
    if (name == nullptr || suffix == nullptr || out == nullptr) return 0;
    const std::string_view given(name), ending(suffix);
    char mark[16] = "";
    size_t keep = given.size();
    if (given.size() + ending.size() > OASYS_NAME_MAX) {
        std::snprintf(mark, sizeof mark, "~%08x", oasys::nameHash(given));
        if (ending.size() + std::strlen(mark) > OASYS_NAME_MAX) return 0;
        keep = OASYS_NAME_MAX - ending.size() - std::strlen(mark);
        // Cut before a UTF-8 continuation byte never splits a character.
        while (keep > 0 && (static_cast<unsigned char>(given[keep]) & 0xC0) == 0x80) --keep;
    }
    const size_t length = keep + std::strlen(mark) + ending.size();
    if (length >= out_size) return 0;
    std::memcpy(out, given.data(), keep);
    std::memcpy(out + keep, mark, std::strlen(mark));
    std::memcpy(out + keep + std::strlen(mark), ending.data(), ending.size());
    out[length] = '\0';
    return length;
}

OASYS_API const char* oasys_version(void) { return OASYS_VERSION_TEXT; }

} // extern "C"

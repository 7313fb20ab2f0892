// oasysdoc._oasysdoc: the thin layer between Python and liboasys (oasys.h).
//
// Every call answers with liboasys's status, the filter's code and the message, and the Python
// package turns a failure into its exception: the mapping of outcomes to exceptions has one home
// there. The interpreter lock is released while liboasys reads a document, so a thread pool over
// documents uses every core; a document's own lock keeps two threads from using it at once, as
// liboasys asks.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "krm_host_testing.h"
#include "oasys.h"

namespace py = pybind11;

namespace {

// liboasys's messages are UTF-8, but may quote a name that is not: such bytes show as U+FFFD.
py::str textOf(const char* data, size_t size) {
    PyObject* text = PyUnicode_DecodeUTF8(data, static_cast<Py_ssize_t>(size), "replace");
    if (text == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(text);
}

py::str messageOf(const oasys_result& result) { return textOf(result.message, std::strlen(result.message)); }

std::string_view viewOf(const py::bytes& data) {
    char* bytes = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(data.ptr(), &bytes, &size) != 0) throw py::error_already_set();
    return {bytes, static_cast<size_t>(size)};
}

// A descriptor closed when the guard goes.
struct FileGuard {
    explicit FileGuard(int descriptor) : fd(descriptor) {}
    FileGuard(const FileGuard&) = delete;
    FileGuard& operator=(const FileGuard&) = delete;
    ~FileGuard() {
        if (fd >= 0) ::close(fd);
    }
    const int fd;
};

[[noreturn]] void raiseSystemError(int error) {
    errno = error;
    PyErr_SetFromErrno(PyExc_OSError);
    throw py::error_already_set();
}

// The whole of a file of ours, read at explicit offsets without the interpreter lock; a file that
// cannot be read whole raises OSError.
py::bytes bytesOfFile(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) raiseSystemError(errno);
    const auto size = static_cast<Py_ssize_t>(status.st_size);
    PyObject* made = PyBytes_FromStringAndSize(nullptr, size);
    if (made == nullptr) throw py::error_already_set();
    py::bytes bytes = py::reinterpret_steal<py::bytes>(made);
    char* into = PyBytes_AS_STRING(made);
    Py_ssize_t done = 0;
    int error = 0;
    {
        py::gil_scoped_release released;
        while (done < size) {
            const ssize_t got = ::pread(fd, into + done, static_cast<size_t>(size - done), done);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                error = got < 0 ? errno : EIO;
                break;
            }
            done += got;
        }
    }
    if (error != 0) raiseSystemError(error);
    return bytes;
}

// An open liboasys document.
class Handle {
public:
    explicit Handle(oasys_document* document) : document_(document) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { oasys_close(document_); }

    void close() {
        py::gil_scoped_release released;
        std::lock_guard lock(mutex_);
        oasys_close(document_);
        document_ = nullptr;
    }
    bool closed() const { return document_ == nullptr; }
    int packaging() const { return oasys_document_packaging(document_); }

    // (status, filter code, message, text bytes kept by the sink). The filter writes into a memory
    // file, read once into the bytes object: a text is held twice at most while it is read (the
    // file and the bytes), where a liboasys buffer would make it three times.
    py::tuple text(const std::string& charset, bool ruledLines, int64_t maxBytes, bool loopGuard, bool strict) {
        const oasys_options options = optionsOf(charset, ruledLines, maxBytes, loopGuard, strict);
        const FileGuard file(::memfd_create("oasysdoc-text", MFD_CLOEXEC));
        if (file.fd < 0) return failure(OASYS_OUTPUT_ERROR, "cannot hold the text", errno);
        oasys_result result{};
        oasys_status status;
        {
            py::gil_scoped_release released;
            std::lock_guard lock(mutex_);
            status = document_ ? oasys_extract_to_new_file(document_, file.fd, &options, &result)
                               : closedResult(result);
        }
        py::bytes text = bytesOfFile(file.fd);
        return py::make_tuple(static_cast<int>(status), result.filter_code, messageOf(result), std::move(text));
    }

    // (status, filter code, message, text bytes kept in the file). The filter writes straight into
    // the regular file behind fd, from its start: a text of any size never passes through memory.
    py::tuple writeText(int fd, const std::string& charset, bool ruledLines, int64_t maxBytes, bool loopGuard,
                        bool strict) {
        const oasys_options options = optionsOf(charset, ruledLines, maxBytes, loopGuard, strict);
        oasys_result result{};
        oasys_status status;
        {
            py::gil_scoped_release released;
            std::lock_guard lock(mutex_);
            status = document_ ? oasys_extract_to_new_file(document_, fd, &options, &result) : closedResult(result);
        }
        return py::make_tuple(static_cast<int>(status), result.filter_code, messageOf(result), result.bytes);
    }

    // (status, filter code, message, fields or None); texts in UTF-8, dates as (y, m, d, h, min)
    // or None.
    py::tuple properties() {
        auto properties = std::make_unique<oasys_properties>();
        oasys_result result{};
        oasys_status status;
        {
            py::gil_scoped_release released;
            std::lock_guard lock(mutex_);
            status = document_ ? oasys_read_properties(document_, nullptr, properties.get(), &result)
                               : closedResult(result);
        }
        if (status != OASYS_OK) return py::make_tuple(static_cast<int>(status), result.filter_code, messageOf(result), py::none());
        const oasys_properties& p = *properties;
        auto text = [](const oasys_text& t) { return textOf(t.text, t.length); };
        auto date = [](const oasys_date& d) -> py::object {
            if (!d.present) return py::none();
            return py::make_tuple(d.year, d.month, d.day, d.hour, d.minute);
        };
        py::dict fields;
        fields["title"] = text(p.title);
        fields["author"] = text(p.author);
        fields["keywords"] = text(p.keywords);
        fields["category"] = text(p.category);
        fields["comments"] = text(p.comments);
        fields["last_author"] = text(p.last_author);
        fields["document_type"] = text(p.document_type);
        fields["created_text"] = text(p.created_text);
        fields["modified_text"] = text(p.modified_text);
        fields["created"] = date(p.created);
        fields["modified"] = date(p.modified);
        fields["packaging"] = static_cast<int>(p.packaging);
        fields["password_protected"] = p.password_protected != 0;
        return py::make_tuple(static_cast<int>(status), result.filter_code, messageOf(result), fields);
    }

    // (status, filter code, message, flag).
    py::tuple passwordProtected() {
        int flag = 0;
        oasys_result result{};
        oasys_status status;
        {
            py::gil_scoped_release released;
            std::lock_guard lock(mutex_);
            status = document_ ? oasys_password_protected(document_, &flag, &result) : closedResult(result);
        }
        return py::make_tuple(static_cast<int>(status), result.filter_code, messageOf(result), flag != 0);
    }

private:
    static oasys_options optionsOf(const std::string& charset, bool ruledLines, int64_t maxBytes, bool loopGuard,
                                   bool strict) {
        oasys_options options;
        oasys_options_init(&options);
        options.charset = charset.c_str();
        options.ruled_lines = ruledLines;
        options.max_bytes = maxBytes;
        options.loop_guard = loopGuard;
        options.strict = strict;
        return options;
    }

    // An answer of the module's own, for a failure before liboasys was called.
    static py::tuple failure(oasys_status status, const char* what, int error) {
        const std::string message = std::string(what) + ": " + std::strerror(error);
        return py::make_tuple(static_cast<int>(status), 0, message, py::bytes());
    }

    static oasys_status closedResult(oasys_result& result) {
        result.status = OASYS_BAD_ARGUMENT;
        std::snprintf(result.message, sizeof result.message, "the document is closed");
        return OASYS_BAD_ARGUMENT;
    }

    oasys_document* document_;
    std::mutex mutex_;
};

// (status, filter code, message, packaging, Handle or None) of an open.
template <class Open>
py::tuple opened(Open&& open) {
    oasys_document* document = nullptr;
    oasys_result result{};
    oasys_status status;
    {
        py::gil_scoped_release released;
        status = open(&document, &result);
    }
    py::object handle = py::none();
    if (status == OASYS_OK) handle = py::cast(std::make_unique<Handle>(document));
    return py::make_tuple(static_cast<int>(status), result.filter_code, messageOf(result),
                          static_cast<int>(result.packaging), handle);
}

py::dict hostCounters() {
    const KrmHostCounters c = KRMTest_Counters();
    py::dict counters;
    counters["open_files"] = c.openFiles;
    counters["open_storages"] = c.openStorages;
    counters["open_streams"] = c.openStreams;
    counters["open_logs"] = c.openLogs;
    counters["outstanding_blocks"] = c.outstandingBlocks;
    counters["output_streams"] = c.outputStreams;
    counters["live_conversions"] = KRMTest_LiveConversions();
    counters["live_bindings"] = KRMTest_LiveBindings();
    return counters;
}

} // namespace

PYBIND11_MODULE(_oasysdoc, m) {
    m.doc() = "liboasys for the oasysdoc package: answers are (status, filter code, message, ...) tuples";
    for (const auto& [name, value] :
         {std::pair{"OK", OASYS_OK}, {"OUTPUT_LIMIT", OASYS_OUTPUT_LIMIT}, {"NO_TEXT", OASYS_NO_TEXT},
          {"PASSWORD", OASYS_PASSWORD}, {"NOT_OASYS", OASYS_NOT_OASYS}, {"BROKEN", OASYS_BROKEN},
          {"UNREADABLE", OASYS_UNREADABLE}, {"OUTPUT_ERROR", OASYS_OUTPUT_ERROR}, {"BAD_ARGUMENT", OASYS_BAD_ARGUMENT}})
        m.attr(name) = static_cast<int>(value);
    for (const auto& [name, value] :
         {std::pair{"NAME_OTHER", OASYS_NAME_OTHER}, {"NAME_BODY", OASYS_NAME_BODY}, {"NAME_MEMBER", OASYS_NAME_MEMBER}})
        m.attr(name) = static_cast<int>(value);

    py::class_<Handle>(m, "Handle", "An open document of liboasys")
        .def("close", &Handle::close, "Releases the document; later calls answer 'the document is closed'")
        .def_property_readonly("closed", &Handle::closed)
        .def_property_readonly("packaging", &Handle::packaging)
        .def("text", &Handle::text, py::arg("charset"), py::arg("ruled_lines"), py::arg("max_bytes"),
             py::arg("loop_guard"), py::arg("strict"), "(status, code, message, text bytes)")
        .def("write_text", &Handle::writeText, py::arg("fd"), py::arg("charset"), py::arg("ruled_lines"),
             py::arg("max_bytes"), py::arg("loop_guard"), py::arg("strict"),
             "(status, code, message, bytes kept in the file), written into the regular file behind fd")
        .def("properties", &Handle::properties, "(status, code, message, fields or None)")
        .def("password_protected", &Handle::passwordProtected, "(status, code, message, flag)");

    m.def(
        "open_path",
        [](const py::bytes& path, int packaging) {
            const std::string file(viewOf(path));
            return opened([&](oasys_document** d, oasys_result* r) {
                return oasys_open_path(file.c_str(), static_cast<oasys_packaging>(packaging), d, r);
            });
        },
        py::arg("path"), py::arg("packaging"), "(status, code, message, packaging, Handle or None)");
    m.def(
        "open_memory",
        [](const py::bytes& data, int packaging) {
            const std::string_view bytes = viewOf(data);
            return opened([&](oasys_document** d, oasys_result* r) {
                return oasys_open_memory(bytes.data(), bytes.size(), static_cast<oasys_packaging>(packaging), d, r);
            });
        },
        py::arg("data"), py::arg("packaging"));
    m.def(
        "open_separated",
        [](const py::bytes& body, const py::bytes& format) {
            const std::string_view doc = viewOf(body), fmt = viewOf(format);
            return opened([&](oasys_document** d, oasys_result* r) {
                return oasys_open_separated_memory(doc.data(), doc.size(), fmt.data(), fmt.size(), d, r);
            });
        },
        py::arg("body"), py::arg("format"));

    m.def("charset_usable", [](const std::string& name) { return oasys_charset_usable(name.c_str()) != 0; });
    m.def("charsets", [] {
        std::vector<std::string> names;
        oasys_charset_list([](void* context, const char* name) { static_cast<std::vector<std::string>*>(context)->push_back(name); },
                           &names);
        return names;
    });
    m.def("status_name", [](int status) { return std::string(oasys_status_name(static_cast<oasys_status>(status))); });
    m.def("packaging_name", [](int packaging) {
        const char* name = oasys_packaging_name(static_cast<oasys_packaging>(packaging));
        return name ? py::object(py::str(name)) : py::object(py::none());
    });
    m.def(
        "name_role", [](const py::bytes& name) { return static_cast<int>(oasys_name_role_of(std::string(viewOf(name)).c_str())); },
        "NAME_OTHER: any file, NAME_BODY: a .DOC body, NAME_MEMBER: a .FMT or .GRP member");
    m.def(
        "output_name",
        [](const py::bytes& name, const py::bytes& suffix) {
            char out[OASYS_NAME_MAX + 1];
            const size_t length =
                oasys_output_name(std::string(viewOf(name)).c_str(), std::string(viewOf(suffix)).c_str(), out, sizeof out);
            return py::bytes(out, length);
        },
        "The file name of a document's output, cut to fit one file name");
    m.def("version", [] { return std::string(oasys_version()); });
    m.def("_host_counters", &hostCounters, "The host library's open handles and blocks (testing interface)");
}

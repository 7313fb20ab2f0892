// libgsf, and the GLib libraries it brings, are loaded by the first compound-file service a
// process asks for, not with the host library: a process that reads only separated and combined
// documents (most runs of the tools, every import of the Python package) neither loads nor maps
// them, and starts about 1.5 ms sooner. The compound-file services call libgsf and GLib
// only through the functions here, so that the host library holds no reference to them that the
// dynamic loader would resolve at start.
#pragma once

#include <gsf/gsf.h>

#include <memory>

namespace krm_host {

// Every libgsf and GLib function the host calls.
#define KRM_GSF_FUNCTIONS(X)                                                                                      \
    X(g_ascii_strcasecmp) X(g_clear_error) X(g_free) X(g_log_default_handler) X(g_log_set_handler) X(g_malloc0)    \
    X(g_object_unref) X(g_strcmp0) X(g_strdup) X(g_try_malloc) X(g_type_check_instance_is_a) X(g_type_class_ref) \
    X(g_utf8_casefold) X(g_utf8_validate) X(g_value_init) X(g_value_set_string) X(gsf_doc_meta_data_insert)       \
    X(gsf_doc_meta_data_new) X(gsf_doc_meta_data_write_to_msole) X(gsf_doc_prop_get_type)                          \
    X(gsf_infile_child_by_index) X(gsf_infile_get_type) X(gsf_infile_msole_get_type) X(gsf_infile_msole_new)       \
    X(gsf_infile_name_by_index) X(gsf_infile_num_children) X(gsf_init) X(gsf_input_memory_new) X(gsf_input_read)  \
    X(gsf_input_seek) X(gsf_input_size) X(gsf_input_stdio_get_type) X(gsf_input_stdio_new) X(gsf_output_close)     \
    X(gsf_output_memory_new) X(gsf_timestamp_free) X(gsf_timestamp_get_type) X(gsf_timestamp_new)                 \
    X(gsf_timestamp_set_time) X(gsf_timestamp_to_value)

struct GsfFunctions {
#define KRM_GSF_MEMBER(name) decltype(&::name) name = nullptr;
    KRM_GSF_FUNCTIONS(KRM_GSF_MEMBER)
#undef KRM_GSF_MEMBER
};

// The functions of the loaded libgsf: filled once, by the first loadGsf() that succeeds, and only
// read after that.
extern GsfFunctions gsf;

// Loads libgsf (once per process); false when it cannot be loaded or lacks a function.
bool loadGsf();

// An owned GObject reference.
struct GObjectUnref {
    void operator()(gpointer object) const { gsf.g_object_unref(object); }
};
template <class T>
using GObjectRef = std::unique_ptr<T, GObjectUnref>;

} // namespace krm_host

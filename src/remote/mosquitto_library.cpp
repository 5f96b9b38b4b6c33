#include "remote/mosquitto_library.h"

#include <dlfcn.h>

#include <mutex>
#include <string>

namespace {

template <typename Function>
bool Resolve(void* handle, const char* name, Function& function, std::string& missing) {
    function = reinterpret_cast<Function>(::dlsym(handle, name));
    if (function == nullptr && missing.empty()) {
        missing = name;
    }
    return function != nullptr;
}

// Only looked up among the libraries already loaded (with libmosquitto): a certificate the broker
// shows can only have been refused by those.
void ResolveCertificateReasons(MosquittoLibrary& library) {
    void* ssl = ::dlopen("libssl.so.3", RTLD_LAZY | RTLD_LOCAL | RTLD_NOLOAD);
    void* crypto = ::dlopen("libcrypto.so.3", RTLD_LAZY | RTLD_LOCAL | RTLD_NOLOAD);
    std::string missing;
    if (ssl != nullptr && crypto != nullptr &&
        Resolve(ssl, "SSL_get_verify_result", library.ssl_get_verify_result, missing) &&
        Resolve(crypto, "X509_verify_cert_error_string", library.x509_verify_cert_error_string,
                missing)) {
        return;
    }
    library.ssl_get_verify_result = nullptr;
    library.x509_verify_cert_error_string = nullptr;
}

Result<const MosquittoLibrary*> Load() {
    void* handle = ::dlopen(kMosquittoLibraryName, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = ::dlerror();
        return Status::Failure(
            std::string("cannot load ") + kMosquittoLibraryName +
            " (Debian's package libmosquitto1): " + (why != nullptr ? why : "unknown reason"));
    }
    // Kept for the life of the process: clients may run until the very end.
    static MosquittoLibrary library;
    std::string missing;
    Resolve(handle, "mosquitto_new", library.new_, missing);
    Resolve(handle, "mosquitto_destroy", library.destroy, missing);
    Resolve(handle, "mosquitto_threaded_set", library.threaded_set, missing);
    Resolve(handle, "mosquitto_int_option", library.int_option, missing);
    Resolve(handle, "mosquitto_connect_v5_callback_set", library.connect_v5_callback_set, missing);
    Resolve(handle, "mosquitto_disconnect_callback_set", library.disconnect_callback_set, missing);
    Resolve(handle, "mosquitto_publish_callback_set", library.publish_callback_set, missing);
    Resolve(handle, "mosquitto_message_v5_callback_set", library.message_v5_callback_set, missing);
    Resolve(handle, "mosquitto_unsubscribe_callback_set", library.unsubscribe_callback_set,
            missing);
    Resolve(handle, "mosquitto_log_callback_set", library.log_callback_set, missing);
    Resolve(handle, "mosquitto_will_set", library.will_set, missing);
    Resolve(handle, "mosquitto_username_pw_set", library.username_pw_set, missing);
    Resolve(handle, "mosquitto_tls_set", library.tls_set, missing);
    Resolve(handle, "mosquitto_tls_opts_set", library.tls_opts_set, missing);
    Resolve(handle, "mosquitto_tls_insecure_set", library.tls_insecure_set, missing);
    Resolve(handle, "mosquitto_connect_async", library.connect_async, missing);
    Resolve(handle, "mosquitto_connect_bind_v5", library.connect_bind_v5, missing);
    Resolve(handle, "mosquitto_reconnect_async", library.reconnect_async, missing);
    Resolve(handle, "mosquitto_disconnect_v5", library.disconnect_v5, missing);
    Resolve(handle, "mosquitto_loop", library.loop, missing);
    Resolve(handle, "mosquitto_loop_write", library.loop_write, missing);
    Resolve(handle, "mosquitto_publish_v5", library.publish_v5, missing);
    Resolve(handle, "mosquitto_subscribe", library.subscribe, missing);
    Resolve(handle, "mosquitto_unsubscribe", library.unsubscribe, missing);
    Resolve(handle, "mosquitto_strerror", library.strerror, missing);
    Resolve(handle, "mosquitto_reason_string", library.reason_string, missing);
    Resolve(handle, "mosquitto_validate_utf8", library.validate_utf8, missing);
    Resolve(handle, "mosquitto_ssl_get", library.ssl_get, missing);
    Resolve(handle, "mosquitto_property_add_int32", library.property_add_int32, missing);
    Resolve(handle, "mosquitto_property_add_string_pair", library.property_add_string_pair,
            missing);
    Resolve(handle, "mosquitto_property_read_string_pair", library.property_read_string_pair,
            missing);
    Resolve(handle, "mosquitto_property_free_all", library.property_free_all, missing);
    decltype(&mosquitto_lib_init) libInit = nullptr;
    Resolve(handle, "mosquitto_lib_init", libInit, missing);
    if (!missing.empty()) {
        return Status::Failure(std::string(kMosquittoLibraryName) + " has no " + missing +
                               "(): it is older than version 2.0");
    }
    libInit();
    ResolveCertificateReasons(library);
    return &library;
}

}  // namespace

Result<const MosquittoLibrary*> Mosquitto() {
    static std::once_flag loaded;
    static Result<const MosquittoLibrary*> library = Status::Failure("not loaded yet");
    std::call_once(loaded, [] { library = Load(); });
    return library;
}

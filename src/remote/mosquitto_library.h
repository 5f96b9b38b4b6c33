#pragma once
// libmosquitto, loaded the first time a broker is used instead of when the program starts. With
// it come OpenSSL's libssl and libcrypto, some 5 MB that every run of the viewer and the tool
// would otherwise map and relocate at start-up without ever talking to a broker. The functions
// keep the library's own names and signatures (from <mosquitto.h>); the library's process-wide
// set-up runs once, with the loading. Thread-safe.
#include <mosquitto.h>
#include <mqtt_protocol.h>

#include "platform/result.h"

// The soname of Debian's libmosquitto1, which libmosquitto-dev builds against.
inline constexpr char kMosquittoLibraryName[] = "libmosquitto.so.1";

struct MosquittoLibrary {
    decltype(&mosquitto_new) new_;
    decltype(&mosquitto_destroy) destroy;
    decltype(&mosquitto_threaded_set) threaded_set;
    decltype(&mosquitto_int_option) int_option;
    decltype(&mosquitto_connect_v5_callback_set) connect_v5_callback_set;
    decltype(&mosquitto_disconnect_callback_set) disconnect_callback_set;
    decltype(&mosquitto_publish_callback_set) publish_callback_set;
    decltype(&mosquitto_message_v5_callback_set) message_v5_callback_set;
    decltype(&mosquitto_unsubscribe_callback_set) unsubscribe_callback_set;
    decltype(&mosquitto_log_callback_set) log_callback_set;
    decltype(&mosquitto_will_set) will_set;
    decltype(&mosquitto_username_pw_set) username_pw_set;
    decltype(&mosquitto_tls_set) tls_set;
    decltype(&mosquitto_tls_opts_set) tls_opts_set;
    decltype(&mosquitto_tls_insecure_set) tls_insecure_set;
    decltype(&mosquitto_connect_async) connect_async;
    decltype(&mosquitto_connect_bind_v5) connect_bind_v5;
    decltype(&mosquitto_reconnect_async) reconnect_async;
    decltype(&mosquitto_disconnect_v5) disconnect_v5;
    decltype(&mosquitto_loop) loop;
    decltype(&mosquitto_loop_write) loop_write;
    decltype(&mosquitto_publish_v5) publish_v5;
    decltype(&mosquitto_subscribe) subscribe;
    decltype(&mosquitto_unsubscribe) unsubscribe;
    decltype(&mosquitto_strerror) strerror;
    decltype(&mosquitto_reason_string) reason_string;
    decltype(&mosquitto_validate_utf8) validate_utf8;
    decltype(&mosquitto_ssl_get) ssl_get;
    decltype(&mosquitto_property_add_int32) property_add_int32;
    decltype(&mosquitto_property_add_string_pair) property_add_string_pair;
    decltype(&mosquitto_property_read_string_pair) property_read_string_pair;
    decltype(&mosquitto_property_free_all) property_free_all;

    // OpenSSL's reason for refusing the broker's certificate ("certificate has expired"), from the
    // libssl and libcrypto the library itself loaded; null where those are not OpenSSL 3.
    long (*ssl_get_verify_result)(const void* ssl) = nullptr;
    const char* (*x509_verify_cert_error_string)(long code) = nullptr;
};

// The library, loaded and set up on the first call. A failure names the library and says why
// it could not be loaded (not installed, a function missing); every later call gives the same.
Result<const MosquittoLibrary*> Mosquitto();

#pragma once
// libmosquitto, loaded the first time a broker is used instead of when the program starts. With
// it come OpenSSL's libssl and libcrypto, some 5 MB that every run of the viewer and the tool
// would otherwise map and relocate at start-up without ever talking to a broker. The functions
// keep the library's own names and signatures (from <mosquitto.h>); the library's process-wide
// set-up runs once, with the loading. Thread-safe.
#include <mosquitto.h>

#include "platform/result.h"

// The soname of Debian's libmosquitto1, which libmosquitto-dev builds against.
inline constexpr char kMosquittoLibraryName[] = "libmosquitto.so.1";

struct MosquittoLibrary {
    decltype(&mosquitto_new) new_;
    decltype(&mosquitto_destroy) destroy;
    decltype(&mosquitto_threaded_set) threaded_set;
    decltype(&mosquitto_int_option) int_option;
    decltype(&mosquitto_connect_callback_set) connect_callback_set;
    decltype(&mosquitto_disconnect_callback_set) disconnect_callback_set;
    decltype(&mosquitto_publish_callback_set) publish_callback_set;
    decltype(&mosquitto_message_callback_set) message_callback_set;
    decltype(&mosquitto_will_set) will_set;
    decltype(&mosquitto_username_pw_set) username_pw_set;
    decltype(&mosquitto_tls_set) tls_set;
    decltype(&mosquitto_tls_opts_set) tls_opts_set;
    decltype(&mosquitto_tls_insecure_set) tls_insecure_set;
    decltype(&mosquitto_connect_async) connect_async;
    decltype(&mosquitto_disconnect) disconnect;
    decltype(&mosquitto_loop) loop;
    decltype(&mosquitto_publish) publish;
    decltype(&mosquitto_subscribe) subscribe;
    decltype(&mosquitto_unsubscribe) unsubscribe;
    decltype(&mosquitto_strerror) strerror;
    decltype(&mosquitto_connack_string) connack_string;
    decltype(&mosquitto_validate_utf8) validate_utf8;
};

// The library, loaded and set up on the first call. A failure names the library and says why
// it could not be loaded (not installed, a function missing); every later call gives the same.
Result<const MosquittoLibrary*> Mosquitto();

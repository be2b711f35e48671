// libcurl, loaded when the first request starts. libcurl brings some thirty
// shared libraries with it (TLS twice over, Kerberos, LDAP, SSH, IDN...);
// linked directly, the dynamic loader maps and relocates all of them before
// main, at every start, though nothing is fetched until a station plays. The
// application links none of them: this file defines the libcurl functions the
// stream client calls, and the few OpenSSL functions it calls on libcurl's
// TLS context, and each one forwards to the real one, found in libcurl or
// the libraries it loads (so always the OpenSSL that libcurl itself uses).
// The definitions are checked against the libraries' own headers, so an
// interface that differs fails the build.
//
// The definitions are hidden: they serve this program's own calls and never
// stand in for the real functions in a library that links them itself.
//
// When libcurl cannot be opened the process goes on: the loader's reason goes
// to standard error once, and every function fails as libcurl's own fail
// (no handle, or an error code), so a request ends with a transport failure.
#include "streaming/CurlLibrary.h"
#include "streaming/DlopenNote.h"
#include "streaming/LoadedLibraries.h"

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdarg>
#include <string>
#include <type_traits>

namespace {

// Every function looked up: those forwarded, and curl_version_info, which
// only the loader calls.
#define VANTULI_CURL_FUNCTIONS(X)                                                                                      \
    X(curl_global_init)                                                                                                \
    X(curl_easy_init)                                                                                                  \
    X(curl_easy_cleanup)                                                                                               \
    X(curl_easy_duphandle)                                                                                             \
    X(curl_easy_setopt)                                                                                                \
    X(curl_easy_getinfo)                                                                                               \
    X(curl_easy_pause)                                                                                                 \
    X(curl_multi_init)                                                                                                 \
    X(curl_multi_cleanup)                                                                                              \
    X(curl_multi_setopt)                                                                                               \
    X(curl_multi_add_handle)                                                                                           \
    X(curl_multi_remove_handle)                                                                                        \
    X(curl_multi_socket_action)                                                                                        \
    X(curl_multi_socket_all)                                                                                           \
    X(curl_version_info)                                                                                               \
    X(curl_multi_info_read)                                                                                            \
    X(curl_slist_append)                                                                                               \
    X(curl_slist_free_all)                                                                                             \
    X(SSL_CTX_get_cert_store)                                                                                          \
    X(X509_STORE_add_cert)                                                                                             \
    X(X509_free)                                                                                                       \
    X(d2i_X509)

#define VANTULI_CURL_INDEX(name) name##_index,
enum Function { VANTULI_CURL_FUNCTIONS(VANTULI_CURL_INDEX) functionCount };
#define VANTULI_CURL_SYMBOL(name) {0, #name},

// The name libcurl's interface has carried since 7.16 (and still does in 8.x).
#define VANTULI_CURL_SONAME "libcurl.so.4"
VANTULI_DLOPEN_NOTE(curlNote, "[{\"feature\":\"network\",\"description\":\"Fetches station streams over HTTP and "
                              "HTTPS\",\"priority\":\"required\",\"soname\":[\"" VANTULI_CURL_SONAME "\"]}]");
constexpr unsigned minimumVersion = 0x075700;
constexpr const char *minimumVersionText = "7.87";

// Opens libcurl (with everything it needs) and looks up every function, once,
// through the handle: libcurl first, then the libraries it loaded.
struct Functions : vantuli::loading::LoadedLibraries<1, functionCount> {
    explicit Functions(const std::string &folder)
        : LoadedLibraries("libcurl", folder, {VANTULI_CURL_SONAME}, {VANTULI_CURL_FUNCTIONS(VANTULI_CURL_SYMBOL)})
    {
        if (!complete)
            return;
        // The build requires the headers of 7.87; an older library found at
        // run time would ignore the options that keep a hung name lookup
        // from holding the caller.
        using VersionInfo = decltype(&::curl_version_info);
        const curl_version_info_data *version =
            reinterpret_cast<VersionInfo>(address[curl_version_info_index])(CURLVERSION_NOW);
        if (!version || version->version_num < minimumVersion) {
            const std::string reason = std::string("libcurl ") + (version ? version->version : "?") +
                                       " is older than " + minimumVersionText;
            fail(reason.c_str());
        }
    }
};

// What a function that gives a code answers when libcurl could not be
// loaded: what the real one answers when it cannot do its work.
struct Unavailable {
    template <typename Result>
    static Result of()
    {
        if constexpr (std::is_same_v<Result, CURLcode>)
            return CURLE_FAILED_INIT;
        else if constexpr (std::is_same_v<Result, CURLMcode>)
            return CURLM_INTERNAL_ERROR;
        else
            return Result(0); // OpenSSL's failure
    }
};

using Loaded = vantuli::loading::Loader<Functions, Unavailable>;

#define VANTULI_REAL(name) Loaded::real<decltype(&::name)>(name##_index)

// Hands an option and its one argument to `set`, the argument read as
// libcurl reads it: by the range the option's number lies in (the same
// ranges for easy and multi options).
template <typename Result, typename Handle, typename Option>
Result forwardOption(Result (*set)(Handle *, Option, ...), Handle *handle, Option option, va_list arguments)
{
    if (int(option) < CURLOPTTYPE_OBJECTPOINT)
        return set(handle, option, va_arg(arguments, long));
    if (int(option) >= CURLOPTTYPE_OFF_T && int(option) < CURLOPTTYPE_BLOB)
        return set(handle, option, va_arg(arguments, curl_off_t));
    return set(handle, option, va_arg(arguments, void *)); // an object, a string, a list, a function or a blob
}

} // namespace

namespace vantuli::curl {

bool loaded()
{
    return Loaded::libraries().complete;
}

void setLibraryFolder(const std::string &folder)
{
    Loaded::folder() = folder;
}

} // namespace vantuli::curl

// The names in parentheses: curl.h defines same-named macros. The option
// and information parameters are libcurl's enumerations, which reach a
// variadic function as int on every ABI, as libcurl's own va_start relies on.
#pragma GCC visibility push(hidden)
#ifdef __clang__
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wvarargs"
#endif
extern "C" {

CURLcode(curl_global_init)(long flags)
{
    return VANTULI_REAL(curl_global_init)(flags);
}
CURL *(curl_easy_init)(void)
{
    return VANTULI_REAL(curl_easy_init)();
}
void(curl_easy_cleanup)(CURL *curl)
{
    VANTULI_REAL(curl_easy_cleanup)(curl);
}
CURL *(curl_easy_duphandle)(CURL *curl)
{
    return VANTULI_REAL(curl_easy_duphandle)(curl);
}
CURLcode(curl_easy_setopt)(CURL *curl, CURLoption option, ...)
{
    va_list arguments;
    va_start(arguments, option);
    const CURLcode result = forwardOption(VANTULI_REAL(curl_easy_setopt), curl, option, arguments);
    va_end(arguments);
    return result;
}
CURLcode(curl_easy_getinfo)(CURL *curl, CURLINFO info, ...)
{
    // Every kind of information is answered through a pointer.
    va_list arguments;
    va_start(arguments, info);
    void *answer = va_arg(arguments, void *);
    va_end(arguments);
    return VANTULI_REAL(curl_easy_getinfo)(curl, info, answer);
}
CURLcode(curl_easy_pause)(CURL *handle, int bitmask)
{
    return VANTULI_REAL(curl_easy_pause)(handle, bitmask);
}
CURLM *(curl_multi_init)(void)
{
    return VANTULI_REAL(curl_multi_init)();
}
CURLMcode(curl_multi_cleanup)(CURLM *multi)
{
    return VANTULI_REAL(curl_multi_cleanup)(multi);
}
CURLMcode(curl_multi_setopt)(CURLM *multi, CURLMoption option, ...)
{
    va_list arguments;
    va_start(arguments, option);
    const CURLMcode result = forwardOption(VANTULI_REAL(curl_multi_setopt), multi, option, arguments);
    va_end(arguments);
    return result;
}
CURLMcode(curl_multi_add_handle)(CURLM *multi, CURL *curl)
{
    return VANTULI_REAL(curl_multi_add_handle)(multi, curl);
}
CURLMcode(curl_multi_remove_handle)(CURLM *multi, CURL *curl)
{
    return VANTULI_REAL(curl_multi_remove_handle)(multi, curl);
}
CURLMcode(curl_multi_socket_action)(CURLM *multi, curl_socket_t socket, int mask, int *running)
{
    return VANTULI_REAL(curl_multi_socket_action)(multi, socket, mask, running);
}
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
CURLMcode(curl_multi_socket_all)(CURLM *multi, int *running)
{
    return VANTULI_REAL(curl_multi_socket_all)(multi, running);
}
#pragma GCC diagnostic pop
CURLMsg *(curl_multi_info_read)(CURLM *multi, int *left)
{
    return VANTULI_REAL(curl_multi_info_read)(multi, left);
}
curl_slist *(curl_slist_append)(curl_slist *list, const char *text)
{
    return VANTULI_REAL(curl_slist_append)(list, text);
}
void(curl_slist_free_all)(curl_slist *list)
{
    VANTULI_REAL(curl_slist_free_all)(list);
}

// OpenSSL, on the TLS context libcurl hands over.
X509_STORE *SSL_CTX_get_cert_store(const SSL_CTX *context)
{
    return VANTULI_REAL(SSL_CTX_get_cert_store)(context);
}
int X509_STORE_add_cert(X509_STORE *store, X509 *certificate)
{
    return VANTULI_REAL(X509_STORE_add_cert)(store, certificate);
}
void X509_free(X509 *certificate)
{
    VANTULI_REAL(X509_free)(certificate);
}
X509 *d2i_X509(X509 **certificate, const unsigned char **bytes, long length)
{
    return VANTULI_REAL(d2i_X509)(certificate, bytes, length);
}

} // extern "C"
#ifdef __clang__
#pragma clang diagnostic pop
#endif
#pragma GCC visibility pop

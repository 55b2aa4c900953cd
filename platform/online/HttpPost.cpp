#include "platform/online/HttpPost.h"

#include <curl/curl.h>
#include <openssl/evp.h>

#include <cstdio>

namespace online {

namespace {

size_t DiscardAnswer(char*, size_t size, size_t count, void* userData) {
    *static_cast<uint64_t*>(userData) += static_cast<uint64_t>(size) * count;
    return size * count;
}

}  // namespace

bool HttpGlobalInit() { return curl_global_init(CURL_GLOBAL_ALL) == CURLE_OK; }

void HttpGlobalCleanup() { curl_global_cleanup(); }

HttpPostResult HttpPost(const char* url, const char* body, long timeoutSeconds) {
    HttpPostResult result;
    CURL* curl = curl_easy_init();
    if (!curl) return result;
    curl_easy_setopt(curl, CURLOPT_URL, url);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, timeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &DiscardAnswer);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &result.answerBytes);
    result.transferred = curl_easy_perform(curl) == CURLE_OK;
    long status = 0;
    if (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK) result.status = status;
    curl_easy_cleanup(curl);
    return result;
}

std::string Md5Hex(const void* data, size_t size) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data, size, digest, &length, EVP_md5(), nullptr) != 1) length = 0;
    std::string hex;
    char two[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(two, sizeof two, "%02x", digest[i]);
        hex += two;
    }
    return hex;
}

}  // namespace online

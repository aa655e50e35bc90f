// OpenSSL, loaded on the first secure connection rather than at start.
//
// The secure socket layer (sockcore.cpp) calls OpenSSL by its own names;
// this file defines those names and hands each call on to the library,
// which it opens the first time one is made. A program that never opens a
// secure connection (most starts of the reader, every plain-HTTP refresh)
// thus maps neither libssl nor libcrypto. Without the libraries every call
// gives its failure value (no context, no connection, an error), so a
// secure connection fails as one whose handshake could not start.
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <initializer_list>

#include "kernel/late_call.h"
#include "kernel/module.h"

namespace {

// libssl, whose dependencies (libcrypto) dlsym searches too; null when it
// cannot be loaded.
void* Library() {
  static void* lib = qk::OpenSystemLibrary({"libssl.so.3", "libssl.so"});
  return lib;
}

void* Symbol(const char* name) {
  void* lib = Library();
  return qk::FindLibraryCall(lib, name);
}

using BioCreate = int (*)(BIO*);
using BioDestroy = int (*)(BIO*);
using BioCtrl = long (*)(BIO*, int, long, void*);
using BioPuts = int (*)(BIO*, const char*);
using BioRead = int (*)(BIO*, char*, int);
using BioWrite = int (*)(BIO*, const char*, int);

}  // namespace

// One definition per call: the result, the name, the parameters, the
// arguments handed on, and the result when the library is missing.
#define QK_OPENSSL(ret, name, params, args, missing) QK_LATE_CALL(Symbol, ret, name, params, args, missing)

// Library set-up and errors.
QK_OPENSSL(int, OPENSSL_init_ssl, (uint64_t opts, const OPENSSL_INIT_SETTINGS* settings), (opts, settings), 0)
QK_OPENSSL(void, ERR_clear_error, (void), (), )
QK_OPENSSL(unsigned long, ERR_get_error, (void), (), ERR_PACK(ERR_LIB_SSL, 0, ERR_R_INIT_FAIL))
QK_OPENSSL(unsigned long, ERR_peek_error, (void), (), ERR_PACK(ERR_LIB_SSL, 0, ERR_R_INIT_FAIL))
QK_OPENSSL(void, ERR_error_string_n, (unsigned long e, char* buf, size_t len), (e, buf, len),
           (buf && len ? static_cast<void>(*buf = 0) : static_cast<void>(0)))
QK_OPENSSL(void, CRYPTO_free, (void* ptr, const char* file, int line), (ptr, file, line), )
QK_OPENSSL(int, CRYPTO_get_ex_new_index,
           (int classIndex, long argl, void* argp, CRYPTO_EX_new* newFunc, CRYPTO_EX_dup* dupFunc,
            CRYPTO_EX_free* freeFunc),
           (classIndex, argl, argp, newFunc, dupFunc, freeFunc), -1)

// Contexts and connections.
QK_OPENSSL(const SSL_METHOD*, TLS_client_method, (void), (), nullptr)
QK_OPENSSL(SSL_CTX*, SSL_CTX_new, (const SSL_METHOD* method), (method), nullptr)
QK_OPENSSL(void, SSL_CTX_free, (SSL_CTX* ctx), (ctx), )
QK_OPENSSL(long, SSL_CTX_ctrl, (SSL_CTX* ctx, int cmd, long larg, void* parg), (ctx, cmd, larg, parg), 0)
QK_OPENSSL(int, SSL_CTX_load_verify_locations, (SSL_CTX* ctx, const char* file, const char* path),
           (ctx, file, path), 0)
QK_OPENSSL(int, SSL_CTX_set_default_verify_paths, (SSL_CTX* ctx), (ctx), 0)
QK_OPENSSL(SSL*, SSL_new, (SSL_CTX* ctx), (ctx), nullptr)
QK_OPENSSL(void, SSL_free, (SSL* ssl), (ssl), )
QK_OPENSSL(long, SSL_ctrl, (SSL* ssl, int cmd, long larg, void* parg), (ssl, cmd, larg, parg), 0)
QK_OPENSSL(int, SSL_connect, (SSL* ssl), (ssl), -1)
QK_OPENSSL(int, SSL_get_error, (const SSL* ssl, int ret), (ssl, ret), SSL_ERROR_SSL)
QK_OPENSSL(int, SSL_pending, (const SSL* ssl), (ssl), 0)
QK_OPENSSL(int, SSL_read_ex, (SSL* ssl, void* buf, size_t num, size_t* read), (ssl, buf, num, read), 0)
QK_OPENSSL(int, SSL_write_ex, (SSL* ssl, const void* buf, size_t num, size_t* written), (ssl, buf, num, written), 0)
QK_OPENSSL(void, SSL_set_bio, (SSL* ssl, BIO* rbio, BIO* wbio), (ssl, rbio, wbio), )
QK_OPENSSL(int, SSL_set1_host, (SSL* ssl, const char* hostname), (ssl, hostname), 0)
QK_OPENSSL(X509_VERIFY_PARAM*, SSL_get0_param, (SSL* ssl), (ssl), nullptr)
QK_OPENSSL(void, SSL_set_verify, (SSL* ssl, int mode, SSL_verify_cb callback), (ssl, mode, callback), )
QK_OPENSSL(long, SSL_get_verify_result, (const SSL* ssl), (ssl), X509_V_ERR_UNSPECIFIED)
QK_OPENSSL(STACK_OF(X509)*, SSL_get_peer_cert_chain, (const SSL* ssl), (ssl), nullptr)
QK_OPENSSL(int, SSL_set_ex_data, (SSL* ssl, int idx, void* data), (ssl, idx, data), 0)
QK_OPENSSL(void*, SSL_get_ex_data, (const SSL* ssl, int idx), (ssl, idx), nullptr)
QK_OPENSSL(int, SSL_get_ex_data_X509_STORE_CTX_idx, (void), (), -1)

// Byte channels.
QK_OPENSSL(BIO*, BIO_new, (const BIO_METHOD* type), (type), nullptr)
QK_OPENSSL(const BIO_METHOD*, BIO_s_socket, (void), (), nullptr)
QK_OPENSSL(long, BIO_ctrl, (BIO* bio, int cmd, long larg, void* parg), (bio, cmd, larg, parg), 0)
QK_OPENSSL(long, BIO_int_ctrl, (BIO* bio, int cmd, long larg, int iarg), (bio, cmd, larg, iarg), 0)
QK_OPENSSL(void, BIO_set_flags, (BIO* bio, int flags), (bio, flags), )
QK_OPENSSL(void, BIO_clear_flags, (BIO* bio, int flags), (bio, flags), )
QK_OPENSSL(int, BIO_get_new_index, (void), (), -1)
QK_OPENSSL(BIO_METHOD*, BIO_meth_new, (int type, const char* name), (type, name), nullptr)
QK_OPENSSL(BioCreate, BIO_meth_get_create, (const BIO_METHOD* method), (method), nullptr)
QK_OPENSSL(BioDestroy, BIO_meth_get_destroy, (const BIO_METHOD* method), (method), nullptr)
QK_OPENSSL(BioCtrl, BIO_meth_get_ctrl, (const BIO_METHOD* method), (method), nullptr)
QK_OPENSSL(BioPuts, BIO_meth_get_puts, (const BIO_METHOD* method), (method), nullptr)
QK_OPENSSL(BioRead, BIO_meth_get_read, (const BIO_METHOD* method), (method), nullptr)
QK_OPENSSL(int, BIO_meth_set_create, (BIO_METHOD* method, BioCreate create), (method, create), 0)
QK_OPENSSL(int, BIO_meth_set_destroy, (BIO_METHOD* method, BioDestroy destroy), (method, destroy), 0)
QK_OPENSSL(int, BIO_meth_set_ctrl, (BIO_METHOD* method, BioCtrl ctrl), (method, ctrl), 0)
QK_OPENSSL(int, BIO_meth_set_puts, (BIO_METHOD* method, BioPuts puts), (method, puts), 0)
QK_OPENSSL(int, BIO_meth_set_read, (BIO_METHOD* method, BioRead read), (method, read), 0)
QK_OPENSSL(int, BIO_meth_set_write, (BIO_METHOD* method, BioWrite write), (method, write), 0)

// Certificates.
QK_OPENSSL(void, X509_free, (X509* x), (x), )
QK_OPENSSL(X509*, d2i_X509, (X509** x, const unsigned char** in, long len), (x, in, len), nullptr)
QK_OPENSSL(int, i2d_X509, (const X509* x, unsigned char** out), (x, out), -1)
QK_OPENSSL(long, X509_get_version, (const X509* x), (x), 0)
QK_OPENSSL(const ASN1_INTEGER*, X509_get0_serialNumber, (const X509* x), (x), nullptr)
QK_OPENSSL(const ASN1_TIME*, X509_get0_notBefore, (const X509* x), (x), nullptr)
QK_OPENSSL(const ASN1_TIME*, X509_get0_notAfter, (const X509* x), (x), nullptr)
QK_OPENSSL(X509_NAME*, X509_get_subject_name, (const X509* x), (x), nullptr)
QK_OPENSSL(X509_NAME*, X509_get_issuer_name, (const X509* x), (x), nullptr)
QK_OPENSSL(int, X509_NAME_entry_count, (const X509_NAME* name), (name), 0)
QK_OPENSSL(X509_NAME_ENTRY*, X509_NAME_get_entry, (const X509_NAME* name, int loc), (name, loc), nullptr)
QK_OPENSSL(ASN1_OBJECT*, X509_NAME_ENTRY_get_object, (const X509_NAME_ENTRY* entry), (entry), nullptr)
QK_OPENSSL(ASN1_STRING*, X509_NAME_ENTRY_get_data, (const X509_NAME_ENTRY* entry), (entry), nullptr)
QK_OPENSSL(int, X509_STORE_CTX_get_error, (const X509_STORE_CTX* ctx), (ctx), X509_V_ERR_UNSPECIFIED)
QK_OPENSSL(void*, X509_STORE_CTX_get_ex_data, (const X509_STORE_CTX* ctx, int idx), (ctx, idx), nullptr)
QK_OPENSSL(int, X509_VERIFY_PARAM_set1_ip_asc, (X509_VERIFY_PARAM* param, const char* ip), (param, ip), 0)
QK_OPENSSL(int, OBJ_obj2nid, (const ASN1_OBJECT* object), (object), NID_undef)
QK_OPENSSL(const char*, OBJ_nid2sn, (int nid), (nid), nullptr)
QK_OPENSSL(int, ASN1_STRING_to_UTF8, (unsigned char** out, const ASN1_STRING* in), (out, in), -1)
QK_OPENSSL(int, ASN1_TIME_to_tm, (const ASN1_TIME* time, struct tm* tm), (time, tm), 0)
QK_OPENSSL(BIGNUM*, ASN1_INTEGER_to_BN, (const ASN1_INTEGER* integer, BIGNUM* bn), (integer, bn), nullptr)
QK_OPENSSL(int, BN_num_bits, (const BIGNUM* bn), (bn), 0)
QK_OPENSSL(int, BN_bn2binpad, (const BIGNUM* bn, unsigned char* to, int length), (bn, to, length), -1)
QK_OPENSSL(void, BN_free, (BIGNUM* bn), (bn), )
QK_OPENSSL(int, OPENSSL_sk_num, (const OPENSSL_STACK* stack), (stack), -1)
QK_OPENSSL(void*, OPENSSL_sk_value, (const OPENSSL_STACK* stack, int i), (stack, i), nullptr)

#undef QK_OPENSSL

/* widl's server stub, compiled with its exception macros as plain blocks: GCC has no __try, and
   the RPC runtime that calls the stub catches what it raises and answers the client with a fault. */
#define USE_COMPILER_EXCEPTIONS
#include "nvda_controller.h"

#undef RpcTryExcept
#undef RpcExcept
#undef RpcEndExcept
#undef RpcTryFinally
#undef RpcFinally
#undef RpcEndFinally
#undef RpcExceptionCode
#undef RpcAbnormalTermination
#define RpcTryExcept {
#define RpcExcept(expr) } if (0) {
#define RpcEndExcept }
#define RpcTryFinally {
#define RpcFinally } {
#define RpcEndFinally }
#define RpcExceptionCode() 0
#define RpcAbnormalTermination() 0

#include "nvda_controller_s.c"

// Calls of a system library the program opens when it first needs it
// rather than at start. A file defines the library's functions by their
// own names, each handing the call on to the library: the code that calls
// them stays as it is, and the program is not linked against the library,
// so its start does not map it.
#pragma once

// One definition per call: `find` (a function taking the name, answering
// the library's function or null), the result, the name, the parameters,
// the arguments handed on, and the result when the library or the call is
// missing. Each looks its function up once. The name is in parentheses: the
// headers may define it as a macro.
#define QK_LATE_CALL(find, ret, name, params, args, missing)   \
  extern "C" ret(name) params {                                 \
    using Fn = ret(*) params;                                   \
    static const Fn fn = reinterpret_cast<Fn>(find(#name));     \
    if (!fn) return missing;                                    \
    return fn args;                                             \
  }

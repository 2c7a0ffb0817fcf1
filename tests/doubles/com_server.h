// What every stand-in COM server shares: its record and control files in the folder an
// environment variable names, the count of its live objects, and the class factory and the two
// exports of an in-process server (com_server.cpp). A stand-in gives its identity and how to make
// one object; the next stand-in is then a class and these three definitions, not a third copy.
#pragma once
#include <ole2.h>
#include <new>

struct stub_identity {
    CLSID clsid;                 // the class the test prefix maps to this DLL
    const wchar_t* dir_variable;  // names the folder; no variable: nothing recorded, default answers
    const wchar_t* calls_file;    // each call, one line (rec_event)
    const wchar_t* control_file;  // key=value answers, read afresh on every question
};
// Defined by each stand-in.
extern const stub_identity kStubIdentity;
// A new object of the stand-in's class, its reference handed to out through riid: each
// stand-in's is new_stub_object of its class.
HRESULT create_stub_object(REFIID riid, void** out);
template <typename T>
HRESULT new_stub_object(REFIID riid, void** out) {
    T* object = new (std::nothrow) T();
    if (!object) return E_OUTOFMEMORY;
    HRESULT hr = object->QueryInterface(riid, out);
    object->Release();
    return hr;
}

// path = the folder \ name; false without the variable.
bool stub_file(const wchar_t* name, wchar_t* out, size_t cap);
void stub_record(const char* head, const wchar_t* text);
long long stub_control(const char* key, long long fallback);
// Every object counts itself in at birth and out at its last Release (DllCanUnloadNow).
void stub_object_born(void);
void stub_object_gone(void);

// Where Windows or WIC calls into the program (a COM method, a window or
// dialog procedure, a thread entry, a callback), nothing may be thrown back:
// an exception unwinding through the system's frames ends in
// std::terminate, and the program vanishes mid-batch. The program throws
// nothing itself, but the standard library does (std::bad_alloc from a
// vector or string that grows).
//
// Promises: each Answer... runs its body and returns what the body returns;
// when the body throws, the exception stops here and the caller gets the
// nearest answer of its own kind: E_OUTOFMEMORY for memory that could not
// be had (or a size the library refuses), E_FAIL for anything else.
#pragma once

#include <windows.h>

#include <new>
#include <stdexcept>

// The HRESULT that stands for whatever the body threw.
inline HRESULT AnswerForCaughtException()
{
    try
    {
        throw;
    }
    catch (const std::bad_alloc &)
    {
        return E_OUTOFMEMORY;
    }
    catch (const std::length_error &)
    {
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        return E_FAIL;
    }
}

// For COM methods and everything else that answers an HRESULT.
template <class Body> HRESULT AnswerWithoutThrowing(Body body) noexcept
{
    try
    {
        return body();
    }
    catch (...)
    {
        return AnswerForCaughtException();
    }
}

// For procedures and callbacks whose answer is a plain value: failed is
// returned when the body throws.
template <class Result, class Body> Result AnswerWithoutThrowing(Result failed, Body body) noexcept
{
    try
    {
        return body();
    }
    catch (...)
    {
        return failed;
    }
}

// Early-return propagation of std::expected errors.
#pragma once

#include <expected>
#include <utility>

#define QM_CONCAT_IMPL(a, b) a##b
#define QM_CONCAT(a, b) QM_CONCAT_IMPL(a, b)

/// `QM_TRY(auto x, f());` evaluates `f()`; on failure returns its error from the enclosing
/// function (converting it to that function's error type), else declares `x` from the value.
/// It expands to:
///
///     auto qm_try_42 = (f());
///     if (!qm_try_42) return std::unexpected(std::move(qm_try_42).error());
///     auto x = std::move(*qm_try_42);
#define QM_TRY(decl, ...)                                                                          \
    auto QM_CONCAT(qm_try_, __LINE__) = (__VA_ARGS__);                                             \
    if (!QM_CONCAT(qm_try_, __LINE__))                                                             \
        return std::unexpected(std::move(QM_CONCAT(qm_try_, __LINE__)).error());                   \
    decl = std::move(*QM_CONCAT(qm_try_, __LINE__))

/// `QM_TRY_VOID(f());` for results without a value: returns the error on failure.
#define QM_TRY_VOID(...)                                                                           \
    if (auto QM_CONCAT(qm_try_, __LINE__) = (__VA_ARGS__); !QM_CONCAT(qm_try_, __LINE__))          \
    return std::unexpected(std::move(QM_CONCAT(qm_try_, __LINE__)).error())

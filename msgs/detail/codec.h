// The CDR encoding of the message classes, driven by their field lists.
//
// Included only by the source files of the message classes. Each class
// lists its fields once, in wire order:
//
//   template <class Self>
//   auto GripperStates::Fields(Self& m) {
//     return quiral::msgs::detail::FieldList(m.width_, m.force_, m.is_moving_);
//   }
//   QUIRAL_MSG_DEFINE(GripperStates)
//
// and everything else (equality, largest and exact sizes, writing and
// reading) follows from that list through `Codec<FieldType>`.
//
// Encoding rules (offsets count from the first byte after the 4-byte
// payload header):
//   - booleans, integers and float32 are aligned to their own size;
//   - a string is a 32-bit count (characters + 1), the characters and a
//     NUL; characters after an embedded NUL are not sent;
//   - an array is its elements, without a count;
//   - a sequence is a 32-bit count and its elements;
//   - a nested message is its fields inline, with no alignment of its own.
// Largest sizes budget 255 characters for a string, 10000 for the long
// string, and 100 elements for a sequence unless its field is `Bounded`.
//
// Reading never allocates more than the payload can hold: before a sequence
// is resized its count is checked against the bytes left in the stream and
// the fewest bytes one element can take, so a forged count fails with
// NotEnoughMemoryException instead of allocating gigabytes.
#pragma once

#include "msgs/detail/message.h"
#include "msgs/detail/type_support.h"

#include <fastcdr/Cdr.h>
#include <fastcdr/FastBuffer.h>
#include <fastcdr/exceptions/BadParamException.h>
#include <fastcdr/exceptions/NotEnoughMemoryException.h>
#include <fastrtps/utils/fixed_size_string.hpp>

#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace quiral {
namespace msgs {
namespace detail {

using eprosima::fastcdr::Cdr;
using LongString = eprosima::fastrtps::fixed_string<10000>;

// Size budget of a sequence without a bound, and of a string.
constexpr size_t kDefaultSequenceBudget = 100;
constexpr size_t kStringBudget = 255;

// Padding that aligns `offset` to `size` (a power of two).
constexpr size_t Padding(size_t offset, size_t size) {
  return (size - (offset % size)) & (size - 1);
}

[[noreturn]] inline void ThrowNotEnoughMemory() {
  throw eprosima::fastcdr::exception::NotEnoughMemoryException(
      eprosima::fastcdr::exception::NotEnoughMemoryException::NOT_ENOUGH_MEMORY_MESSAGE_DEFAULT);
}

// Three private members of Fast-CDR's Cdr that reading uses directly: the
// stream's position and the end of its buffer, which Fast-CDR reaches only
// through out-of-line calls (checking the bytes left took five of them per
// sequence), and readString, which reads a string's count and leaves its
// text in the buffer (Fast-CDR's public reading of a std::string copies the
// text into a temporary string first).
//
// C++ does not check access in the names that specify an explicit
// instantiation, so `template struct PrivateMember<Tag, &Cdr::member>` may
// name a private member. The instantiation defines the friend function
// MemberPointer(Tag), declared in the tag and found through it, which
// returns the member pointer as a constant. All of this has internal
// linkage: one specialisation may be explicitly instantiated only once in a
// program, so each source file gets tags, and thereby specialisations, of
// its own. The inline functions after it use only the values of the
// constants, which have the same type and value in every source file.
namespace {

template <class Tag, auto kMember>
struct PrivateMember {
  friend constexpr decltype(kMember) MemberPointer(Tag) { return kMember; }
};

using CdrPosition = eprosima::fastcdr::FastBuffer::iterator Cdr::*;
using CdrReadString = const char* (Cdr::*)(uint32_t&);

struct CdrCurrentPositionTag {
  friend constexpr CdrPosition MemberPointer(CdrCurrentPositionTag);
};
struct CdrLastPositionTag {
  friend constexpr CdrPosition MemberPointer(CdrLastPositionTag);
};
struct CdrReadStringTag {
  friend constexpr CdrReadString MemberPointer(CdrReadStringTag);
};

template struct PrivateMember<CdrCurrentPositionTag, &Cdr::m_currentPosition>;
template struct PrivateMember<CdrLastPositionTag, &Cdr::m_lastPosition>;
template struct PrivateMember<CdrReadStringTag, &Cdr::readString>;

constexpr CdrPosition kCdrCurrentPosition = MemberPointer(CdrCurrentPositionTag{});
constexpr CdrPosition kCdrLastPosition = MemberPointer(CdrLastPositionTag{});
constexpr CdrReadString kCdrReadString = MemberPointer(CdrReadStringTag{});

}  // namespace

// True when at least `bytes` bytes are left after the stream's position,
// within the buffer as it is: over Fast-CDR's own growing buffer, too,
// this never enlarges it.
inline bool HasBytesLeft(const Cdr& cdr, uint64_t bytes) {
  // Copies, so that only the constants' values are used.
  constexpr CdrPosition current = kCdrCurrentPosition;
  constexpr CdrPosition last = kCdrLastPosition;
  return bytes <= (cdr.*last) - (cdr.*current);
}

// Reads a string's count and returns its text where it lies in the buffer,
// `length` characters without the final NUL. Throws
// NotEnoughMemoryException, the position unchanged, when the count is
// beyond the bytes left.
inline const char* ReadStringInBuffer(Cdr& cdr, uint32_t& length) {
  constexpr CdrReadString read = kCdrReadString;
  return (cdr.*read)(length);
}

// ---------------------------------------------------------------------------
// Field list.

// A sequence field with a size budget other than the default 100 elements.
template <size_t N, class V>
struct BoundedField {
  V& value;
};

template <size_t N, class V>
BoundedField<N, V> Bounded(V& value) {
  return BoundedField<N, V>{value};
}

// The fields of one message, as references, in wire order.
template <class... F>
std::tuple<F...> FieldList(F&&... fields) {
  return std::tuple<F...>(std::forward<F>(fields)...);
}

template <class F>
F& FieldValue(F& field) {
  return field;
}
template <size_t N, class V>
V& FieldValue(BoundedField<N, V>& field) {
  return field.value;
}
template <class F>
constexpr size_t FieldBudget(const F&) {
  return kDefaultSequenceBudget;
}
template <size_t N, class V>
constexpr size_t FieldBudget(const BoundedField<N, V>&) {
  return N;
}

// ---------------------------------------------------------------------------
// Encoding of one field kind.

template <class T>
struct IsPrimitive
    : std::integral_constant<bool, std::is_same<T, bool>::value || std::is_same<T, uint8_t>::value ||
                                       std::is_same<T, int16_t>::value || std::is_same<T, uint16_t>::value ||
                                       std::is_same<T, int32_t>::value || std::is_same<T, uint32_t>::value ||
                                       std::is_same<T, uint64_t>::value || std::is_same<T, float>::value> {};

struct Access;

// Nested message: delegates to the message's own operations.
template <class T, class Enable = void>
struct Codec {
  static void Write(Cdr& cdr, const T& value) { value.serialize(cdr); }
  static void Read(Cdr& cdr, T& value) { value.deserialize(cdr); }
  static size_t Max(size_t offset, size_t /*budget*/) { return offset + T::getMaxCdrSerializedSize(offset); }
  static size_t Size(size_t offset, const T& value) { return offset + T::getCdrSerializedSize(value, offset); }
  static size_t Min();
  static bool Equal(const T& a, const T& b) { return a == b; }
};

template <class P>
struct Codec<P, std::enable_if_t<IsPrimitive<P>::value>> {
  static void Write(Cdr& cdr, P value) { cdr.serialize(value); }
  static void Read(Cdr& cdr, P& value) { cdr.deserialize(value); }
  static size_t Max(size_t offset, size_t /*budget*/) { return offset + Padding(offset, sizeof(P)) + sizeof(P); }
  static size_t Size(size_t offset, P /*value*/) { return Max(offset, 0); }
  static size_t Min() { return sizeof(P); }
  // float32 compares as a number: NaN never equal, 0.0 equal to -0.0.
  static bool Equal(P a, P b) { return a == b; }
};

template <class P, size_t N>
struct Codec<std::array<P, N>> {
  static_assert(IsPrimitive<P>::value, "arrays hold primitives only");
  static void Write(Cdr& cdr, const std::array<P, N>& value) { cdr.serializeArray(value.data(), N); }
  static void Read(Cdr& cdr, std::array<P, N>& value) { cdr.deserializeArray(value.data(), N); }
  static size_t Max(size_t offset, size_t /*budget*/) {
    return offset + Padding(offset, sizeof(P)) + N * sizeof(P);
  }
  static size_t Size(size_t offset, const std::array<P, N>& /*value*/) { return Max(offset, 0); }
  static size_t Min() { return N * sizeof(P); }
  static bool Equal(const std::array<P, N>& a, const std::array<P, N>& b) { return a == b; }
};

// Boolean arrays are read as octets and checked: a byte other than 0 or 1
// is malformed (and would not be a valid bool).
template <size_t N>
struct Codec<std::array<bool, N>> : Codec<std::array<uint8_t, N>> {
  static void Write(Cdr& cdr, const std::array<bool, N>& value) { cdr.serializeArray(value.data(), N); }
  static void Read(Cdr& cdr, std::array<bool, N>& value) {
    std::array<uint8_t, N> octets;
    cdr.deserializeArray(octets.data(), N);
    for (size_t i = 0; i < N; ++i) {
      if (octets[i] > 1) {
        throw eprosima::fastcdr::exception::BadParamException("boolean byte other than 0 or 1");
      }
      value[i] = octets[i] != 0;
    }
  }
  static size_t Size(size_t offset, const std::array<bool, N>& /*value*/) { return offset + N; }
  static bool Equal(const std::array<bool, N>& a, const std::array<bool, N>& b) { return a == b; }
};

template <>
struct Codec<std::string> {
  static void Write(Cdr& cdr, const std::string& value) { cdr.serialize(value.c_str()); }
  // Straight from the buffer into the string, which keeps its capacity.
  static void Read(Cdr& cdr, std::string& value) {
    uint32_t length = 0;
    const char* text = ReadStringInBuffer(cdr, length);
    value.assign(text, length);
  }
  static size_t Max(size_t offset, size_t /*budget*/) {
    return offset + Padding(offset, 4) + 4 + kStringBudget + 1;
  }
  // What Write puts on the wire: up to the first NUL.
  static size_t Size(size_t offset, const std::string& value) {
    return offset + Padding(offset, 4) + 4 + std::strlen(value.c_str()) + 1;
  }
  static size_t Min() { return 4; }
  static bool Equal(const std::string& a, const std::string& b) { return a == b; }
};

template <>
struct Codec<LongString> {
  static void Write(Cdr& cdr, const LongString& value) { cdr.serialize(value.c_str()); }
  // Text longer than the capacity is cut to its first 10000 characters;
  // an embedded NUL ends it.
  static void Read(Cdr& cdr, LongString& value) {
    std::string text;
    cdr.deserialize(text);
    value = text.c_str();
  }
  static size_t Max(size_t offset, size_t /*budget*/) {
    return offset + Padding(offset, 4) + 4 + LongString::max_size + 1;
  }
  static size_t Size(size_t offset, const LongString& value) {
    return offset + Padding(offset, 4) + 4 + std::strlen(value.c_str()) + 1;
  }
  static size_t Min() { return 4; }
  static bool Equal(const LongString& a, const LongString& b) { return a == b; }
};

template <class E>
struct Codec<std::vector<E>> {
  static_assert(!std::is_same<E, bool>::value, "no sequence of booleans");
  static constexpr bool kPrimitive = IsPrimitive<E>::value;

  static void Write(Cdr& cdr, const std::vector<E>& value) {
    if (value.size() > std::numeric_limits<uint32_t>::max()) {
      throw eprosima::fastcdr::exception::BadParamException("sequence longer than a 32-bit count");
    }
    const uint32_t count = static_cast<uint32_t>(value.size());
    Cdr::state before(cdr);
    try {
      cdr.serialize(count);
      if constexpr (kPrimitive) {
        if (count != 0) {
          cdr.serializeArray(value.data(), count);
        }
      } else {
        for (const E& element : value) {
          Codec<E>::Write(cdr, element);
        }
      }
    } catch (eprosima::fastcdr::exception::Exception&) {
      cdr.setState(before);
      throw;
    }
  }

  static void Read(Cdr& cdr, std::vector<E>& value) {
    Cdr::state before(cdr);
    uint32_t count = 0;
    cdr.deserialize(count);
    if (count == 0) {
      value.clear();
      return;
    }
    try {
      // A 32-bit count times the fewest bytes of one element (far below
      // 2^32) cannot overflow 64 bits.
      if (!HasBytesLeft(cdr, uint64_t{count} * Codec<E>::Min())) {
        ThrowNotEnoughMemory();
      }
      value.resize(count);
      if constexpr (kPrimitive) {
        cdr.deserializeArray(value.data(), count);
      } else {
        for (E& element : value) {
          Codec<E>::Read(cdr, element);
        }
      }
    } catch (eprosima::fastcdr::exception::Exception&) {
      cdr.setState(before);
      throw;
    }
  }

  static size_t Max(size_t offset, size_t budget) {
    offset += Padding(offset, 4) + 4;
    if constexpr (kPrimitive) {
      return offset + Padding(offset, sizeof(E)) + budget * sizeof(E);
    }
    for (size_t i = 0; i < budget; ++i) {
      offset = Codec<E>::Max(offset, kDefaultSequenceBudget);
    }
    return offset;
  }

  static size_t Size(size_t offset, const std::vector<E>& value) {
    offset += Padding(offset, 4) + 4;
    if constexpr (kPrimitive) {
      if (!value.empty()) {
        offset += Padding(offset, sizeof(E)) + value.size() * sizeof(E);
      }
      return offset;
    }
    for (const E& element : value) {
      offset = Codec<E>::Size(offset, element);
    }
    return offset;
  }

  static size_t Min() { return 4; }

  static bool Equal(const std::vector<E>& a, const std::vector<E>& b) {
    if (a.size() != b.size()) {
      return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
      if (!Codec<E>::Equal(a[i], b[i])) {
        return false;
      }
    }
    return true;
  }
};

// ---------------------------------------------------------------------------
// Whole messages, walked through their field lists.

struct Access {
  template <class T>
  static bool Equal(const T& a, const T& b) {
    auto fa = T::Fields(a);
    auto fb = T::Fields(b);
    return EqualFields(fa, fb, std::make_index_sequence<std::tuple_size<decltype(fa)>::value>());
  }

  template <class T>
  static size_t MaxSize(size_t start) {
    const T prototype{};
    auto fields = T::Fields(prototype);
    size_t offset = start;
    std::apply(
        [&offset](auto&... f) {
          ((offset = Codec<Plain<decltype(FieldValue(f))>>::Max(offset, FieldBudget(f))), ...);
        },
        fields);
    return offset - start;
  }

  template <class T>
  static size_t Size(const T& message, size_t start) {
    auto fields = T::Fields(message);
    size_t offset = start;
    std::apply(
        [&offset](auto&... f) {
          ((offset = Codec<Plain<decltype(FieldValue(f))>>::Size(offset, FieldValue(f))), ...);
        },
        fields);
    return offset - start;
  }

  template <class T>
  static size_t MinSize() {
    const T prototype{};
    auto fields = T::Fields(prototype);
    size_t total = 0;
    std::apply([&total](auto&... f) { ((total += Codec<Plain<decltype(FieldValue(f))>>::Min()), ...); },
               fields);
    return total;
  }

  template <class T>
  static void Write(const T& message, Cdr& cdr) {
    auto fields = T::Fields(message);
    std::apply([&cdr](auto&... f) { (Codec<Plain<decltype(FieldValue(f))>>::Write(cdr, FieldValue(f)), ...); },
               fields);
  }

  template <class T>
  static void Read(T& message, Cdr& cdr) {
    auto fields = T::Fields(message);
    std::apply([&cdr](auto&... f) { (Codec<Plain<decltype(FieldValue(f))>>::Read(cdr, FieldValue(f)), ...); },
               fields);
  }

  template <class T>
  static size_t NestedMinSize() {
    return T::MinCdrSerializedSize();
  }

  template <class T>
  static bool IsFixedSize() {
    return T::getMaxCdrSerializedSize(0) == T::getCdrSerializedSize(T(), 0);
  }

 private:
  template <class R>
  using Plain = std::remove_cv_t<std::remove_reference_t<R>>;

  template <class FA, class FB, size_t... I>
  static bool EqualFields(FA& fa, FB& fb, std::index_sequence<I...>) {
    return (Codec<Plain<decltype(FieldValue(std::get<I>(fa)))>>::Equal(FieldValue(std::get<I>(fa)),
                                                                         FieldValue(std::get<I>(fb))) &&
            ...);
  }
};

template <class T, class Enable>
size_t Codec<T, Enable>::Min() {
  return Access::NestedMinSize<T>();
}

// The operations of message class T for its type-support class.
template <class T>
MessageOps MakeMessageOps(const char* dds_type_name) {
  MessageOps ops{};
  ops.dds_type_name = dds_type_name;
  ops.max_body_size = T::getMaxCdrSerializedSize(0);
  ops.fixed_size = Access::IsFixedSize<T>();
  ops.write = [](const void* sample, Cdr& cdr) { static_cast<const T*>(sample)->serialize(cdr); };
  ops.read = [](void* sample, Cdr& cdr) { static_cast<T*>(sample)->deserialize(cdr); };
  ops.body_size = [](const void* sample) { return T::getCdrSerializedSize(*static_cast<const T*>(sample), 0); };
  ops.create = []() -> void* { return new T(); };
  ops.destroy = [](void* sample) { delete static_cast<T*>(sample); };
  ops.construct_at = [](void* memory) { new (memory) T(); };
  return ops;
}

}  // namespace detail
}  // namespace msgs
}  // namespace quiral

// Defines the common operations of message class `Type` (declared by
// QUIRAL_MSG_COMMON) from its field list. Used inside the class's namespace.
#define QUIRAL_MSG_DEFINE(Type)                                                                  \
  bool Type::operator==(const Type& other) const {                                               \
    return ::quiral::msgs::detail::Access::Equal(*this, other);                                  \
  }                                                                                              \
  size_t Type::getMaxCdrSerializedSize(size_t current_alignment) {                               \
    return ::quiral::msgs::detail::Access::MaxSize<Type>(current_alignment);                     \
  }                                                                                              \
  size_t Type::getCdrSerializedSize(const Type& data, size_t current_alignment) {                \
    return ::quiral::msgs::detail::Access::Size(data, current_alignment);                        \
  }                                                                                              \
  void Type::serialize(eprosima::fastcdr::Cdr& cdr) const {                                      \
    ::quiral::msgs::detail::Access::Write(*this, cdr);                                           \
  }                                                                                              \
  void Type::deserialize(eprosima::fastcdr::Cdr& cdr) { ::quiral::msgs::detail::Access::Read(*this, cdr); } \
  size_t Type::getKeyMaxCdrSerializedSize(size_t current_alignment) { return current_alignment; } \
  bool Type::isKeyDefined() { return false; }                                                    \
  void Type::serializeKey(eprosima::fastcdr::Cdr& /*cdr*/) const {}                              \
  size_t Type::MinCdrSerializedSize() { return ::quiral::msgs::detail::Access::MinSize<Type>(); }

// Defines the constructor of the type-support class `Type##PubSubType`.
#define QUIRAL_MSG_DEFINE_TYPE_SUPPORT(Type, dds_type_name)   \
  Type##PubSubType::Type##PubSubType()                        \
      : ::quiral::msgs::MessageTypeSupport(::quiral::msgs::detail::MakeMessageOps<Type>(dds_type_name)) {}

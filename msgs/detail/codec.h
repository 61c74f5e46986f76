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
// or a string is sized its count is checked against the bytes left in the
// stream and the fewest bytes one element can take, so a forged count fails
// with NotEnoughMemoryException instead of allocating gigabytes. The bytes
// left come from a Reader, the stream and the length of the buffer it
// reads: the type support knows the payload's length; a message's public
// deserialize, called with a stream alone, finds it out first.
#pragma once

#include "msgs/detail/message.h"
#include "msgs/detail/type_support.h"

#include <fastcdr/Cdr.h>
#include <fastcdr/FastBuffer.h>
#include <fastcdr/exceptions/BadParamException.h>
#include <fastcdr/exceptions/NotEnoughMemoryException.h>
#include <fastrtps/utils/fixed_size_string.hpp>

#include <algorithm>
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

// The stream a message is read from, and the length of the buffer under
// it: what is left to read is one subtraction from the stream's position.
struct Reader {
  Cdr& cdr;
  size_t buffer_length;  // counted as the stream counts its position

  size_t BytesLeft() const { return buffer_length - cdr.getSerializedDataLength(); }
};

// The bytes between the stream's position and the end of its buffer, found
// with reads alone: over Fast-CDR's own growing buffer a read never
// enlarges it (a jump would). Slower than a Reader made with the length
// known, it serves callers that hand a message a stream alone. The
// position is restored.
inline size_t ProbeBytesLeft(Cdr& cdr) {
  constexpr size_t kChunk = 4096;
  char scratch[kChunk];
  Cdr::state start(cdr);
  size_t left = 0;
  // Whole chunks while they last, then halves down to one byte: each size
  // below the chunk fits at most once.
  for (size_t size = kChunk; size > 0; size /= 2) {
    try {
      while (true) {
        cdr.deserializeArray(scratch, size);
        left += size;
      }
    } catch (const eprosima::fastcdr::exception::NotEnoughMemoryException&) {
    }
  }
  cdr.setState(start);
  return left;
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

// Nested message: written by the message's own operations, read through
// the same Reader as the message around it.
template <class T, class Enable = void>
struct Codec {
  static void Write(Cdr& cdr, const T& value) { value.serialize(cdr); }
  static void Read(Reader& in, T& value);
  static size_t Max(size_t offset, size_t /*budget*/) { return offset + T::getMaxCdrSerializedSize(offset); }
  static size_t Size(size_t offset, const T& value) { return offset + T::getCdrSerializedSize(value, offset); }
  static size_t Min();
  static bool Equal(const T& a, const T& b) { return a == b; }
};

template <class P>
struct Codec<P, std::enable_if_t<IsPrimitive<P>::value>> {
  static void Write(Cdr& cdr, P value) { cdr.serialize(value); }
  static void Read(Reader& in, P& value) { in.cdr.deserialize(value); }
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
  static void Read(Reader& in, std::array<P, N>& value) { in.cdr.deserializeArray(value.data(), N); }
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
  static void Read(Reader& in, std::array<bool, N>& value) {
    std::array<uint8_t, N> octets;
    in.cdr.deserializeArray(octets.data(), N);
    // All bytes checked at once: a bit above the lowest in any of them.
    uint8_t bits = 0;
    for (uint8_t octet : octets) {
      bits |= octet;
    }
    if (bits > 1) {
      throw eprosima::fastcdr::exception::BadParamException("boolean byte other than 0 or 1");
    }
    for (size_t i = 0; i < N; ++i) {
      value[i] = octets[i] != 0;
    }
  }
  static size_t Size(size_t offset, const std::array<bool, N>& /*value*/) { return offset + N; }
  static bool Equal(const std::array<bool, N>& a, const std::array<bool, N>& b) { return a == b; }
};

template <>
struct Codec<std::string> {
  static void Write(Cdr& cdr, const std::string& value) { cdr.serialize(value.c_str()); }
  // Straight from the buffer into the string, which keeps its capacity. A
  // count of 0 is the empty string; the final NUL is not kept (a text that
  // lacks it keeps its last character).
  static void Read(Reader& in, std::string& value) {
    uint32_t count;  // no initial value: see the sequences' Read
    in.cdr.deserialize(count);
    if (count == 0) {
      value.clear();
      return;
    }
    if (count > in.BytesLeft()) {
      ThrowNotEnoughMemory();
    }
    // Sized without the final NUL, which is read on its own: a string
    // decoded again at the same length is not resized at all (resize is
    // a call even then).
    const uint32_t length = count - 1;
    if (value.size() != length) {
      value.resize(length);
    }
    if (length != 0) {
      in.cdr.deserializeArray(&value[0], length);
    }
    char last;  // no initial value: see the sequences' Read
    in.cdr.deserialize(last);
    if (last != '\0') {
      value.push_back(last);
    }
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
  static void Read(Reader& in, LongString& value) {
    std::string text;
    Codec<std::string>::Read(in, text);
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

  // No position is saved here: a message read from outside restores its
  // own start once (Access::ReadFromOutside), and the type support drops a
  // sample that fails.
  static void Read(Reader& in, std::vector<E>& value) {
    // No initial value: Fast-CDR writes it. A store of 0 to the same stack
    // slot just before the call made a processor that forwards stack
    // stores early (measured on AMD EPYC) read that 0 and then start over,
    // which cost a fifth of the decoding of a message of lists.
    uint32_t count;
    in.cdr.deserialize(count);
    if (count == 0) {
      value.clear();
      return;
    }
    // A 32-bit count times the fewest bytes of one element (far below
    // 2^32) cannot overflow 64 bits.
    if (uint64_t{count} * Codec<E>::Min() > in.BytesLeft()) {
      ThrowNotEnoughMemory();
    }
    value.resize(count);
    if constexpr (kPrimitive) {
      in.cdr.deserializeArray(value.data(), count);
    } else {
      for (E& element : value) {
        Codec<E>::Read(in, element);
      }
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

// Fields that may be read as one array with their neighbours: a primitive
// other than a boolean (booleans are checked byte by byte), alone or in an
// array. Neighbouring fields of one such type lie on the wire exactly as
// one array of all their elements: aligned once at the first, with no
// padding after it.
template <class T, class Enable = void>
struct RunElement {
  using type = void;  // not part of a run
  static constexpr size_t count = 0;
};
template <class P>
struct RunElement<P, std::enable_if_t<IsPrimitive<P>::value && !std::is_same<P, bool>::value>> {
  using type = P;
  static constexpr size_t count = 1;
};
template <class P, size_t N>
struct RunElement<std::array<P, N>, std::enable_if_t<IsPrimitive<P>::value && !std::is_same<P, bool>::value>> {
  using type = P;
  static constexpr size_t count = N;
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

  // Field by field, except that a run of neighbouring fields of one
  // primitive type (RunElement) is read with one call: every call moves
  // the stream's position, and the calls one after the other are what a
  // body's reading mostly waits on.
  template <class T>
  static void Read(T& message, Reader& in) {
    auto fields = T::Fields(message);
    ReadFieldsFrom<0>(fields, in);
  }

  // A message's public deserialize: the stream comes alone, so the bytes
  // left are found out first. A failure puts the stream back where the
  // message began and rethrows; the message may hold a mix of new and old
  // field values.
  template <class T>
  static void ReadFromOutside(T& message, Cdr& cdr) {
    Cdr::state start(cdr);
    try {
      Reader in{cdr, cdr.getSerializedDataLength() + ProbeBytesLeft(cdr)};
      Read(message, in);
    } catch (eprosima::fastcdr::exception::Exception&) {
      cdr.setState(start);
      throw;
    }
  }

  // A nested message's field list lies in its own source file.
  template <class T>
  static void ReadNested(T& message, Reader& in) {
    message.ReadBody(in);
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

  // The value type of field I of a field list.
  template <class Fields, size_t I>
  using FieldType = Plain<decltype(FieldValue(std::get<I>(std::declval<Fields&>())))>;

  // The end of the run of fields with element type E that goes on at J.
  template <class Fields, size_t J, class E>
  static constexpr size_t RunEnd() {
    if constexpr (J < std::tuple_size<Fields>::value) {
      if constexpr (std::is_same<typename RunElement<FieldType<Fields, J>>::type, E>::value) {
        return RunEnd<Fields, J + 1, E>();
      }
    }
    return J;
  }

  template <size_t I, class Fields>
  static void ReadFieldsFrom(Fields& fields, Reader& in) {
    if constexpr (I < std::tuple_size<Fields>::value) {
      using Element = typename RunElement<FieldType<Fields, I>>::type;
      constexpr size_t kEnd = std::is_void<Element>::value ? I + 1 : RunEnd<Fields, I + 1, Element>();
      if constexpr (kEnd - I > 1) {
        ReadRun<I>(fields, in, std::make_index_sequence<kEnd - I>());
      } else {
        Codec<FieldType<Fields, I>>::Read(in, FieldValue(std::get<I>(fields)));
      }
      ReadFieldsFrom<kEnd>(fields, in);
    }
  }

  // Reads the run of fields that starts at I as one array, then hands each
  // field its elements.
  template <size_t I, class Fields, size_t... K>
  static void ReadRun(Fields& fields, Reader& in, std::index_sequence<K...>) {
    using P = typename RunElement<FieldType<Fields, I>>::type;
    constexpr size_t kTotal = (RunElement<FieldType<Fields, I + K>>::count + ...);
    P run[kTotal];
    in.cdr.deserializeArray(run, kTotal);
    const P* next = run;
    (TakeFromRun(next, FieldValue(std::get<I + K>(fields))), ...);
  }
  template <class P>
  static void TakeFromRun(const P*& next, P& value) {
    value = *next++;
  }
  template <class P, size_t N>
  static void TakeFromRun(const P*& next, std::array<P, N>& value) {
    std::copy(next, next + N, value.begin());
    next += N;
  }

  template <class FA, class FB, size_t... I>
  static bool EqualFields(FA& fa, FB& fb, std::index_sequence<I...>) {
    return (Codec<Plain<decltype(FieldValue(std::get<I>(fa)))>>::Equal(FieldValue(std::get<I>(fa)),
                                                                         FieldValue(std::get<I>(fb))) &&
            ...);
  }
};

template <class T, class Enable>
void Codec<T, Enable>::Read(Reader& in, T& value) {
  Access::ReadNested(value, in);
}

// Worked out once per type: it walks a default message.
template <class T, class Enable>
size_t Codec<T, Enable>::Min() {
  static const size_t min = Access::NestedMinSize<T>();
  return min;
}

// The operations of message class T for its type-support class.
template <class T>
MessageOps MakeMessageOps(const char* dds_type_name) {
  MessageOps ops{};
  ops.dds_type_name = dds_type_name;
  ops.max_body_size = T::getMaxCdrSerializedSize(0);
  ops.fixed_size = Access::IsFixedSize<T>();
  ops.write = [](const void* sample, Cdr& cdr) { static_cast<const T*>(sample)->serialize(cdr); };
  ops.read = [](void* sample, Cdr& cdr, size_t buffer_length) {
    Reader in{cdr, buffer_length};
    Access::Read(*static_cast<T*>(sample), in);
  };
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
  void Type::deserialize(eprosima::fastcdr::Cdr& cdr) {                                          \
    ::quiral::msgs::detail::Access::ReadFromOutside(*this, cdr);                                 \
  }                                                                                              \
  size_t Type::getKeyMaxCdrSerializedSize(size_t current_alignment) { return current_alignment; } \
  bool Type::isKeyDefined() { return false; }                                                    \
  void Type::serializeKey(eprosima::fastcdr::Cdr& /*cdr*/) const {}                              \
  size_t Type::MinCdrSerializedSize() { return ::quiral::msgs::detail::Access::MinSize<Type>(); } \
  void Type::ReadBody(::quiral::msgs::detail::Reader& in) {                                      \
    ::quiral::msgs::detail::Access::Read(*this, in);                                             \
  }

// Defines the constructor of the type-support class `Type##PubSubType`.
#define QUIRAL_MSG_DEFINE_TYPE_SUPPORT(Type, dds_type_name)   \
  Type##PubSubType::Type##PubSubType()                        \
      : ::quiral::msgs::MessageTypeSupport(::quiral::msgs::detail::MakeMessageOps<Type>(dds_type_name)) {}

#pragma once

#include <array>
#include <cstdint>

#include <QFrame>

class QLineEdit;

namespace marindo {

// An IPv4 address field made of four octet fields, with a blank state that an
// ordinary line edit with an input mask cannot show: a blank field and a typed
// 0.0.0.0 both read as address 0, as the operator's windows have always had it.
// Typing three digits or a dot moves on to the next octet, Backspace in an
// empty octet moves back; a value above 255 becomes 255 when the octet is left.
class Ipv4Edit : public QFrame {
  Q_OBJECT

 public:
  explicit Ipv4Edit(QWidget* parent = nullptr);

  // Host order; empty octets count as 0.
  std::uint32_t Address() const;
  // True when no octet holds any text.
  bool IsBlank() const;
  // True when some octets hold text and others none: no address the
  // operator meant, though Address() reads the empty ones as 0.
  bool IsPartial() const;
  void SetAddress(std::uint32_t hostOrder);
  void ClearAddress();

  // The octet fields, left to right, for tests and for focus chains.
  QLineEdit* Octet(int index) const;

 signals:
  void addressEdited();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  static constexpr int kOctets = 4;

  QLineEdit* MakeOctet();
  int IndexOf(const QObject* octet) const;
  void FocusOctet(int index, bool atStart);
  void OnOctetTextEdited(int index);
  static void ClampOctet(QLineEdit* octet);
  static std::uint32_t OctetValue(const QLineEdit* octet);

  std::array<QLineEdit*, kOctets> octets_{};
};

}  // namespace marindo

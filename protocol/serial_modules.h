#ifndef PROTOCOL_SERIAL_MODULES_H
#define PROTOCOL_SERIAL_MODULES_H

// Serial ports of the command links: the board's serial port n (platform::devices::serialPort) under the root, raw mode,
// speed from a fixed table, RS-485 sending with the direction switched by RTS.

#include <cstdint>
#include <set>
#include <vector>

// One serial record: what one read returned, or what one send is to write.
struct Uart_Rec_Send_Data {
    static constexpr uint32_t DATA_SIZE = 65556;
    std::vector<uint8_t> data;
    int fd = -1;
    int count = 0;
};

class Uart_Config
{
public:
    Uart_Config() {}
    ~Uart_Config() {}
};

class serial_modules
{
public:
    int ttyS_Open(int port, int speed, int flags);
    int UartSetParity(int fd, int databits, int stopbits, char parity);
    int UartSetSpeed(int fd, int speed);
    int serial_init(int port, int speed, int flags);
    // Reads what is waiting on the record's port (nothing: -1).
    int recv_uart_data(Uart_Rec_Send_Data &rec, int max);
    // True when the last recv_uart_data found the line gone (end of file or
    // an error other than "nothing waiting"): the other end hung up.
    bool line_gone() const { return m_line_gone; }
    // Sends the record whole with the direction line turned to transmit from
    // 2 ms before the first byte until the last byte has left.
    int uart_send(const Uart_Rec_Send_Data &rec);
    // Blocks until `fd` is readable or `wakeFd` is signalled, at most
    // `timeoutMs` (-1: no limit), telling a line with data from one that hung
    // up (a hung-up line stays "readable" with nothing to read). A negative
    // `fd` waits on `wakeFd` alone. woken() then tells whether `wakeFd` was
    // signalled.
    enum class Line { Quiet, Readable, HungUp };
    Line wait_line(int fd, int wakeFd, int timeoutMs);
    bool woken() const { return m_woken; }

    // Closes one port of the set.
    void close_port(int fd);
    void close_all();
    const std::set<int> &fds() const { return m_fds; }

private:
    std::set<int> m_fds;
    bool m_line_gone = false;
    bool m_woken = false;
};

#endif

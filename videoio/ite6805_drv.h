#ifndef VIDEOIO_ITE6805_DRV_H
#define VIDEOIO_ITE6805_DRV_H

// The receivers feeding the chip's V-by-One inputs (inputs 4 and 5).

class ite6805_drv
{
public:
    static constexpr int COUNT = 2;
    static constexpr int FIRST_INPUT = 4;

    // Refreshes the timing record of input FIRST_INPUT + idx in the input
    // manager from that receiver's register copy (zeroed, no signal, when the
    // input has none). Nothing happens before the input manager exists or
    // for an index other than 0 and 1.
    static void iTE6805_Get_Hdmi(int idx);
};

#endif

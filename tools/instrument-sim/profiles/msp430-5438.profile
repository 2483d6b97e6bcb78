# Lab instrument with an MSP430F5438-class chip: 5xx/6xx UART loader, flash up to
# 0x45BFF. Waiting in its loader (start=loader), it answers the probe 80 with "Q".
name=msp430-5438
start_mode=0
baud=4800
stop_bits=2
pcb=43140.201
device=43140.000
version=1.23
serial=12345681
password=5C00
probe=80
probe_answer=Q
loader=msp430-5xx
loader.chip_id=5438
flash_start=0x1000
flash_size=0x44C00
on.restart=I.30#

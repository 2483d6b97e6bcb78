# Instrument with a character-command bootloader 1.06 (unlock line needed)
# taking ".BIN" firmware over XMODEM-CRC; room for a 1 MB image.
name=xmodem-106
start_mode=0
baud=4800
stop_bits=2
pcb=43140.201
device=43140.000
version=1.23
serial=12345681
loader=xmodem
loader.version=1.06
flash_start=0
flash_size=0x110000
on.restart=@1000:I.30#

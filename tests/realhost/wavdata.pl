#!/usr/bin/perl
# The sample bytes of 32-bit float WAV files, as they are stored, so two files
# can be compared bit for bit (converters round float samples).
#   wavdata.pl data FILE.wav                        the file's sample bytes
#   wavdata.pl stereo LEFT.wav RIGHT.wav [FIRST N]  two mono files as one stereo
#                                                   float WAV (frames FIRST.. FIRST+N-1)
use strict;
use warnings;

# Answers (channels, sample bytes) of a 32-bit float WAV file.
sub read_wav {
    my ($path) = @_;
    open(my $fh, '<:raw', $path) or die "$path: $!\n";
    local $/;
    my $bytes = <$fh>;
    die "$path: not a RIFF WAVE file\n" unless substr($bytes, 0, 4) eq 'RIFF' && substr($bytes, 8, 4) eq 'WAVE';
    my ($pos, $channels, $data) = (12, 0, undef);
    while ($pos + 8 <= length $bytes) {
        my ($id, $size) = unpack('a4 V', substr($bytes, $pos, 8));
        my $body = substr($bytes, $pos + 8, $size);
        if ($id eq 'fmt ') {
            my ($format, $chans, $rate, $rate_bytes, $align, $bits) = unpack('v v V V v v', $body);
            $format = unpack('v', substr($body, 24, 2)) if $format == 0xFFFE;  # extensible: the sub-format
            die "$path: not 32-bit float samples\n" unless $format == 3 && $bits == 32;
            $channels = $chans;
        }
        $data = $body if $id eq 'data';
        $pos += 8 + $size + ($size & 1);
    }
    die "$path: no format or data chunk\n" unless $channels && defined $data;
    return ($channels, $data);
}

sub mono_floats {
    my ($path) = @_;
    my ($channels, $data) = read_wav($path);
    die "$path: $channels channels, want 1\n" unless $channels == 1;
    return $data;
}

binmode STDOUT;
my $command = shift @ARGV // '';
if ($command eq 'data' && @ARGV == 1) {
    print((read_wav($ARGV[0]))[1]);
} elsif ($command eq 'stereo' && (@ARGV == 2 || @ARGV == 4)) {
    my ($left, $right) = (mono_floats($ARGV[0]), mono_floats($ARGV[1]));
    my $frames = length($left) / 4;
    my ($first, $count) = @ARGV == 4 ? @ARGV[2, 3] : (0, $frames);
    die "frames $first..+$count outside the files\n" if $first + $count > $frames || length($right) < length($left);
    my $interleaved = '';
    $interleaved .= substr($left, 4 * $_, 4) . substr($right, 4 * $_, 4) for $first .. $first + $count - 1;
    my $size = length $interleaved;
    print pack('a4 V a4', 'RIFF', 36 + $size, 'WAVE'),
          pack('a4 V v v V V v v', 'fmt ', 16, 3, 2, 44100, 44100 * 8, 8, 32),
          pack('a4 V', 'data', $size), $interleaved;
} else {
    die "usage: wavdata.pl data FILE.wav | stereo LEFT.wav RIGHT.wav [FIRST N]\n";
}

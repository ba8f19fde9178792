#!/usr/bin/env bash
# Test certificates and signed copies of the fake program, for the package-trust
# tests. Certificates are made once per build tree; the copies are signed afresh on
# every run, since a signature's validity depends on the time. The test CA becomes a
# trusted root of the Wine prefix, through the registry key itself (roots removed
# through the system store can come back); the look-alike CA, named as the first,
# does not.
# Usage: bash make-signed.sh BIN_DIR   (run by ctest, inside the Wine environment)
set -euo pipefail
bin=$1
out=$bin/signed
certs=$out/certs-$(sha1sum "$0" | cut -c1-8) # made anew when this script changes
mkdir -p "$certs"
cd "$certs"

# cert NAME SUBJECT ISSUER(empty: self-signed) EXTENSIONS [DAYS]
cert() {
  [ -f "$1.crt" ] && return
  openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "$2" 2>/dev/null
  printf '%b' "$4" >"$1.ext"
  local by=(-signkey "$1.key")
  [ -z "$3" ] || by=(-CA "$3.crt" -CAkey "$3.key" -set_serial "0x$(openssl rand -hex 8)")
  # A negative number of days ends the certificate before now.
  openssl x509 -req -in "$1.csr" "${by[@]}" -days "${5:-3650}" -extfile "$1.ext" -out "$1.crt" 2>/dev/null
}
ca='basicConstraints=critical,CA:true\nkeyUsage=critical,keyCertSign,cRLSign\n'
signing='keyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n'
A='/O=Vantorel Test/CN=Publisher A'
cert ca '/CN=Vantorel Test CA' '' "$ca"
cert lookalike_ca '/CN=Vantorel Test CA' '' "$ca" # the trusted CA's name, another key
cert a "$A" ca "$signing"
cert b '/O=Vantorel Test/CN=Publisher B' ca "$signing"
cert expired "$A" ca "$signing" -1
cert no_usage "$A" ca 'keyUsage=critical,digitalSignature\n' # no usage named: the chain allows any
cert lookalike "$A" lookalike_ca "$signing"
cert tsa '/CN=Vantorel Test TSA' ca 'keyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n'
cat tsa.crt ca.crt >tsa-chain.crt
# A renewal: the publisher's subject through a second intermediate of the same root.
cert inter2 '/CN=Vantorel Test Intermediate 2' ca "$ca"
cert renewed "$A" inter2 "$signing"
cat renewed.crt inter2.crt >renewed-chain.crt
# Server certificates for the https tests: a good one, an expired one, one from the
# untrusted look-alike root.
server='subjectAltName=DNS:localhost,DNS:origin.test\nextendedKeyUsage=serverAuth\n'
cert tls_good /CN=localhost ca "$server"
cert tls_expired /CN=localhost ca "$server" -1
cert tls_untrusted /CN=localhost lookalike_ca "$server"
mkdir -p ../tls
cp tls_*.crt tls_*.key ../tls/

# The root's Blob is a serialised certificate: one property (32, the encoded
# certificate) as id, encoding type and length, little-endian, then the bytes.
le32() { printf '%02x%02x%02x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
openssl x509 -in ca.crt -outform DER -out ca.der
thumb=$(sha1sum ca.der | cut -c1-40 | tr a-f A-F)
blob=$(le32 32)$(le32 1)$(le32 "$(stat -c %s ca.der)")$(od -An -v -tx1 ca.der | tr -d ' \n')
wine reg add "HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\$thumb" \
  /v Blob /t REG_BINARY /d "$blob" /f >/dev/null 2>&1 </dev/null

for who in a b expired no_usage lookalike renewed; do
  rm -f "../$who.exe"
  chain=$who.crt
  [ -f "$who-chain.crt" ] && chain=$who-chain.crt
  osslsigncode sign -certs "$chain" -key "$who.key" -in "$bin/fake_noversion.exe" -out "../$who.exe" >/dev/null
done
# A's with a version resource (product Vantorel 1.2.3.4 the first, installed as the main
# program; older, newer, another product, this one named otherwise or elsewhere).
for v in 1_2_3_4 1_2_4_0 1_2_3_3 0_3_4_5 helper case second missing requires; do
  rm -f "../v$v.exe"
  osslsigncode sign -certs a.crt -key a.key -in "$bin/fake_$v.exe" -out "../v$v.exe" >/dev/null
done
# A's newer one with a timestamp (osslsigncode's own authority, trusted through the CA).
rm -f ../timestamped.exe
osslsigncode sign -certs a.crt -key a.key -TSA-certs tsa-chain.crt -TSA-key tsa.key -TSA-time "$(date +%s)" \
  -in "$bin/fake_1_2_4_0.exe" -out ../timestamped.exe >/dev/null
# The publishers' certificates and keys as a signing tool takes them, with their chains:
# A's behind a password.
for who in a:secret:ca b::ca lookalike::lookalike_ca; do
  IFS=: read -r name password issuer <<<"$who"
  openssl pkcs12 -export -in "$name.crt" -inkey "$name.key" -certfile "$issuer.crt" -passout "pass:$password" \
    -out "../$name.pfx"
done
# An answer signed by openssl's own CMS: the standard format, not only the release tool's.
printf 'for v=00000000-ffffffff\nVantorel 1.2.4.0\nlatest\n' >cms-body
openssl cms -sign -binary -md sha256 -in cms-body -signer a.crt -inkey a.key -certfile ca.crt -outform DER \
  -out cms.der
{ printf 'signature: '; base64 -w0 cms.der; printf '\n'; cat cms-body; } >../cms-answer.txt
# One byte of code changed after signing: a package, and a main program requiring signed
# answers.
for from in a:altered vrequires:requires_altered; do
  cp "../${from%:*}.exe" "../${from#*:}.exe"
  printf '\x90' | dd of="../${from#*:}.exe" bs=1 seek=1100 conv=notrunc status=none
done
# The certificate table kept in the header, the signature's last bytes cut off.
head -c $(($(stat -c %s ../a.exe) - 600)) ../a.exe >../damaged.exe
echo "signed: $(ls ../*.exe | wc -l) programs"

"""The proctor's page: plain HTML, CSS and script in one answer, nothing
fetched from elsewhere (the school's network may have no internet)."""
from __future__ import annotations

import html

STYLE = """
body { font-family: "Segoe UI", Arial, sans-serif; margin: 0; background: #f3f6fa; color: #1d2b3a; }
header { background: #1f5fa8; color: #fff; padding: 12px 24px; display: flex; align-items: center; gap: 16px; flex-wrap: wrap; }
header h1 { font-size: 20px; margin: 0; flex: 1; }
header a, header button { color: #fff; background: #174a84; border: 1px solid #fff6; border-radius: 6px; padding: 6px 12px; text-decoration: none; font-size: 14px; cursor: pointer; }
main { padding: 16px 24px; }
#putus { display: none; background: #c62828; color: #fff; padding: 10px 24px; font-weight: bold; }
#putus.tampil { display: block; }
table { border-collapse: collapse; width: 100%; background: #fff; }
th, td { text-align: left; padding: 8px 10px; border-bottom: 1px solid #dde5ee; font-size: 15px; }
th { background: #e8eef6; }
tr.siswa { cursor: pointer; }
tr.siswa:hover { background: #f0f6ff; }
.status { border-radius: 12px; padding: 2px 10px; font-weight: bold; font-size: 13px; white-space: nowrap; }
.s-Terverifikasi { background: #e3e7ec; color: #37474f; }
.s-Mengerjakan { background: #d7ecff; color: #0d47a1; }
.s-Selesai { background: #dcf3dc; color: #1b5e20; }
.s-Hilang { background: #c62828; color: #fff; }
.s-Belum { background: #fff3cd; color: #6d4c00; }
.tak-terdaftar { color: #ad1457; font-size: 13px; margin-left: 6px; }
form.daftar-kelas textarea { width: 100%; max-width: 480px; font-size: 14px; box-sizing: border-box; }
form.daftar-kelas label { display: block; margin: 8px 0 2px; }
.token-besar { font-family: Consolas, monospace; font-size: 56px; font-weight: bold; letter-spacing: 6px; color: #0d47a1; }
table.ujian td { vertical-align: top; }
form.ujian label { display: inline-block; min-width: 190px; margin: 6px 0; }
form.ujian input { font-size: 15px; padding: 4px; }
form.ujian .salah { margin-left: 8px; }
.dari-berkas { color: #6d4c00; font-size: 13px; }
.s-dua { background: #6a1b9a; color: #fff; margin-left: 6px; }
td.pc { font-family: Consolas, monospace; font-size: 13px; color: #37474f; }
.sesi { margin: 6px 0 2px; }
.sesi button { margin-left: 8px; font-size: 13px; }
.ditutup { color: #78909c; }
td.terdengar { color: #546e7a; font-size: 14px; white-space: nowrap; }
tr.hilang td { background: #fff1f0; }
td.terdengar.lama { color: #c62828; font-weight: bold; }
.p0 { color: #2e7d32; } .p1 { color: #ef6c00; font-weight: bold; } .p3 { color: #c62828; font-weight: bold; }
tr.detail td { background: #fafcff; font-size: 14px; }
tr.detail ul { margin: 4px 0; padding-left: 18px; }
section { margin-top: 20px; }
.ringkas { display: flex; gap: 16px; flex-wrap: wrap; margin-bottom: 12px; }
.kotak { background: #fff; border: 1px solid #dde5ee; border-radius: 8px; padding: 10px 14px; }
.kotak b { font-size: 20px; }
form.masuk { max-width: 340px; margin: 80px auto; background: #fff; padding: 24px; border-radius: 10px; border: 1px solid #dde5ee; }
form.masuk input { width: 100%; font-size: 16px; padding: 8px; margin: 8px 0 14px; box-sizing: border-box; }
form.masuk button { font-size: 16px; padding: 8px 20px; background: #1f5fa8; color: #fff; border: 0; border-radius: 6px; }
.salah { color: #c62828; }
.dikunci { background: #4a148c; color: #fff; border-radius: 12px; padding: 2px 10px; font-weight: bold; font-size: 13px; margin-left: 6px; white-space: nowrap; }
td.aksi { white-space: nowrap; }
td.aksi button { font-size: 13px; margin: 0 4px 2px 0; padding: 3px 8px; border: 1px solid #9fb3c8; border-radius: 5px; background: #fff; cursor: pointer; }
td.aksi button.akhiri { border-color: #c62828; color: #c62828; }
#kelas-pesan textarea { width: 100%; max-width: 520px; font: inherit; }
"""


def login(message: str, name: str = "") -> str:
    note = f'<p class="salah" id="pesan">{html.escape(message)}</p>' if message else ""
    typed = html.escape(name, quote=True)
    return f"""<!DOCTYPE html>
<html lang="id"><head><meta charset="utf-8"><meta name="viewport" content="width=device-width">
<title>Masuk Pengawas - ORVEL Selvaro CBT</title><style>{STYLE}</style></head>
<body><form class="masuk" method="post" action="/pengawas/login">
<h2>Halaman Pengawas Ujian</h2>{note}
<label for="name">Nama pengawas (kosongkan untuk administrator)</label>
<input type="text" id="name" name="name" value="{typed}" autocomplete="username">
<label for="password">Kata sandi pengawas</label>
<input type="password" id="password" name="password" autofocus required>
<button type="submit">Masuk</button></form></body></html>
"""


SCRIPT = r"""
const $ = (id) => document.getElementById(id);
let terbuka = null;  // the student whose timeline is open

function jam(iso) {
  if (!iso) return "-";
  const d = new Date(iso);
  return isNaN(d) ? iso : d.toLocaleTimeString("id-ID", {hour: "2-digit", minute: "2-digit", second: "2-digit"});
}
async function ambil(url, opsi) {
  const r = await fetch(url, Object.assign({credentials: "same-origin"}, opsi || {}));
  if (r.status === 401) { location.reload(); throw new Error("401"); }
  return r.json();
}
function sel(teks, kelas) {
  const td = document.createElement("td");
  td.textContent = teks;
  if (kelas) td.className = kelas;
  return td;
}
function kunci(s) { return s.key; }
function terdengar(detik) {
  if (detik === null || detik === undefined) return "-";
  if (detik < 60) return "terdengar " + detik + " detik lalu";
  if (detik < 3600) return "terdengar " + Math.floor(detik / 60) + " menit lalu";
  return "terdengar " + Math.floor(detik / 3600) + " jam lalu";
}
// The last contact counts up between the server's answers.
function tulisTerdengar(tr) {
  if (tr.dataset.heard === undefined) return;
  const detik = Number(tr.dataset.heard) + Math.floor((Date.now() - Number(tr.dataset.at)) / 1000);
  const td = tr.cells[4];
  td.textContent = terdengar(detik);
  td.classList.toggle("lama", detik >= 30);
}

// The class filter lives in the page's address, so a bookmark opens it.
function kelasDipilih() { return new URLSearchParams(location.search).get("kelas") || ""; }
async function muatKelas() {
  const kelas = await ambil("/api/proctor/classes"), pilih = kelasDipilih();
  const semua = document.createElement("option");
  semua.value = "";
  semua.textContent = saya.name && !saya.admin ? "Semua kelas saya" : "Semua kelas";
  const opsi = [semua, ...kelas.map(k => { const o = document.createElement("option"); o.value = k; o.textContent = k; return o; })];
  if (pilih && !kelas.some(k => k.toLowerCase() === pilih.toLowerCase())) {
    const o = document.createElement("option"); o.value = pilih; o.textContent = pilih; opsi.push(o);
  }
  $("kelas").replaceChildren(...opsi);
  $("kelas").value = opsi.find(o => o.value.toLowerCase() === pilih.toLowerCase()).value;
}
function gantiKelas() {
  const v = $("kelas").value, q = new URLSearchParams(location.search);
  if (v) q.set("kelas", v); else q.delete("kelas");
  history.replaceState(null, "", location.pathname + (q.toString() ? "?" + q : ""));
  terbuka = null;
  muatDaftar();
}
async function muatDaftar() {
  const semua = await ambil("/api/proctor/roster?" + new URLSearchParams({kelas: kelasDipilih()}));
  pilihanSekolah(semua);
  const sekolah = $("sekolah").value;
  const daftar = semua.filter(s => !sekolah || s.school === sekolah);
  const baris = [];  // built whole, then put in at once: the table never shows half
  let kerja = 0, selesai = 0, langgar = 0, hilang = 0, belum = 0;
  for (const s of daftar) {
    if (s.state === "Belum mulai") belum++;
    if (s.state === "Mengerjakan") kerja++;
    if (s.state === "Selesai") selesai++;
    if (s.state === "Hilang") hilang++;
    if (s.violations > 0) langgar++;
    const tr = document.createElement("tr");
    tr.className = "siswa" + (s.state === "Hilang" ? " hilang" : "");
    tr.dataset.nama = s.studentName;
    tr.dataset.state = s.state;
    tr.dataset.key = s.key;
    tr.append(sel(s.studentName), sel(s.school ? s.className + " \u00b7 " + s.school : s.className));
    const st = sel(""), span = document.createElement("span");
    span.className = "status s-" + s.state;
    span.textContent = s.state;
    st.append(span);
    if (s.locked) {
      const k = document.createElement("span");
      k.className = "dikunci";
      k.textContent = "Dikunci";
      st.append(k);
    }
    if (s.state === "Hilang" && s.missingAddresses.length)
      st.append(" PC " + s.missingAddresses.join(", ") + " tidak terdengar");
    if (s.notListed) {
      const tak = document.createElement("span");
      tak.className = "tak-terdaftar";
      tak.textContent = "Nama tidak ada di daftar";
      st.append(tak);
    }
    if (s.twoSessions.length) {
      const dua = document.createElement("span");
      dua.className = "status s-dua";
      dua.textContent = "Dua sesi: " + s.twoSessions.join(" dan ");
      st.append(dua);
    }
    tr.append(st, sel(s.address, "pc"), sel("-", "terdengar"),
              sel(String(s.violations), s.violations >= 3 ? "p3" : s.violations > 0 ? "p1" : "p0"),
              sel(jam(s.lastEventAt)), sel(s.lastDetail), aksi(s));
    if (s.heardAgo !== null) {
      tr.dataset.heard = s.heardAgo;
      tr.dataset.at = Date.now();
      tulisTerdengar(tr);
    }
    tr.onclick = () => { terbuka = terbuka === kunci(s) ? null : kunci(s); muatDaftar(); };
    baris.push(tr);
    if (terbuka === kunci(s)) baris.push(await riwayat(s));
  }
  $("daftar").replaceChildren(...baris);
  $("jumlah").textContent = daftar.length;
  $("kerja").textContent = kerja;
  $("selesai").textContent = selesai;
  $("hilang").textContent = hilang;
  $("belum").textContent = belum;
  $("langgar").textContent = langgar;
  $("kosong").style.display = daftar.length ? "none" : "block";
}
// The proctor's hand on a working student's PC: it arrives with the PC's
// next heartbeat, within about 15 seconds.
function tombol(teks, kelas, aksinya) {
  const b = document.createElement("button");
  b.type = "button";
  b.textContent = teks;
  if (kelas) b.className = kelas;
  b.onclick = (ev) => { ev.stopPropagation(); aksinya(); };
  return b;
}
function aksi(s) {
  const td = document.createElement("td");
  td.className = "aksi";
  if (s.state !== "Mengerjakan" && s.state !== "Hilang") return td;
  td.append(
    tombol("Kirim pesan", "", () => {
      const teks = prompt("Pesan untuk " + s.studentName + " (paling banyak 300 karakter):");
      if (teks && teks.trim()) perintah({className: s.className, studentName: s.studentName, token: s.token, kind: "message", text: teks});
    }),
    s.locked ? tombol("Buka kunci", "", () => perintah({className: s.className, studentName: s.studentName, token: s.token, kind: "unlock"}))
             : tombol("Kunci layar", "", () => perintah({className: s.className, studentName: s.studentName, token: s.token, kind: "lock"})),
    tombol("Akhiri ujian", "akhiri", () => {
      if (confirm("Akhiri ujian " + s.studentName + " (kelas " + s.className + ") sekarang?"))
        perintah({className: s.className, studentName: s.studentName, token: s.token, kind: "end"});
    }));
  return td;
}
async function perintah(isi) {
  const r = await ambil("/api/proctor/command", {method: "POST", headers: {"Content-Type": "application/json"},
                                                 body: JSON.stringify(isi)});
  $("perintah-hasil").textContent = r.ok ? "Perintah dikirim ke " + r.sent + " PC; sampai dalam 15 detik." : r.error;
  muatNanti();
  return r;
}
async function pesanKelas() {
  const r = await perintah({className: $("kelas-nama").value, school: $("sekolah").value, kind: "message",
                           text: $("kelas-teks").value});
  if (r.ok) $("kelas-teks").value = "";
}
const namaPerintah = {message: "Pesan", end: "Akhiri ujian", lock: "Kunci layar", unlock: "Buka kunci"};
function barisRiwayat(e) {
  if (e.kind === "verify") return "Token diverifikasi";
  if (e.kind === "close") return "Sesi ditutup oleh pengawas";
  if (e.kind === "command")
    return "Pengawas: " + namaPerintah[e.command] + (e.text ? " \u201c" + e.text + "\u201d" : "") + " (" + e.state + ")";
  return e.event + ": " + e.detail;
}
// Exams that name their schools: the proctor may look at one school at a time.
function pilihanSekolah(daftar) {
  const semua = [...new Set(daftar.map(s => s.school).filter(Boolean))].sort();
  const pilih = $("sekolah"), tadi = pilih.value;
  $("saring").style.display = semua.length > 1 ? "" : "none";
  if (pilih.options.length - 1 === semua.length) return;
  pilih.replaceChildren(new Option("Semua sekolah", ""), ...semua.map(n => new Option(n, n)));
  pilih.value = semua.includes(tadi) ? tadi : "";
}
async function riwayat(s) {
  const q = new URLSearchParams({className: s.className, studentName: s.studentName, token: s.token});
  const isi = await ambil("/api/proctor/timeline?" + q);
  const tr = document.createElement("tr"), td = document.createElement("td");
  tr.className = "detail";
  td.colSpan = 9;
  const ul = document.createElement("ul");
  for (const e of isi) {
    const li = document.createElement("li");
    let t = jam(e.receivedAt) + "  " + (e.address ? "PC " + e.address + "  " : "") + barisRiwayat(e);
    if (e.twoSessions) t += "  (Dua sesi: " + e.twoSessions.join(" dan ") + ")";
    if (e.closedSession) { t += "  (sesi ditutup)"; li.className = "ditutup"; }
    li.textContent = t;
    ul.append(li);
  }
  td.append(ul);
  for (const x of s.sessions) {
    const p = document.createElement("div");
    p.className = "sesi";
    p.textContent = "Sesi di PC " + x.address + ": " + x.state;
    if (x.state === "Mengerjakan" || x.state === "Terverifikasi") {
      const b = document.createElement("button");
      b.type = "button";
      b.textContent = "Tutup sesi";
      b.onclick = (ev) => { ev.stopPropagation(); tutupSesi(x); };
      p.append(b);
    }
    td.append(p);
  }
  tr.append(td);
  return tr;
}
async function tutupSesi(x) {
  if (!confirm("Tutup sesi di PC " + x.address + "? Sesi itu tidak diawasi lagi; laporannya tetap disimpan, ditandai sesi ditutup.")) return;
  const r = await ambil("/api/proctor/close-session", {method: "POST", headers: {"Content-Type": "application/json"},
                                                      body: JSON.stringify({session: x.session})});
  if (!r.ok) alert(r.error);
  muatDaftar();
}
// The class lists: pasted names or a file's bytes as they are; the server reads them.
const SATU_MB = 1 << 20;
async function muatDaftarKelas() {
  const isi = await ambil("/api/proctor/class-lists");
  $("dk-ada").replaceChildren(...isi.map(k => {
    const li = document.createElement("li");
    li.textContent = "Kelas " + k.className + ": " + k.count + " siswa";
    return li;
  }));
}
async function simpanDaftarKelas(ev) {
  ev.preventDefault();
  for (const id of ["dk-kelas-salah", "dk-nama-salah", "dk-hasil"]) $(id).textContent = "";
  const kelas = $("dk-kelas").value, berkas = $("dk-berkas").files[0];
  if (!kelas.trim()) { $("dk-kelas-salah").textContent = "Isi nama kelas."; return; }
  if (berkas && berkas.size > SATU_MB) { $("dk-nama-salah").textContent = "Daftar lebih dari 1 MB."; return; }
  const isi = berkas || new Blob([$("dk-nama").value], {type: "text/plain"});
  const r = await fetch("/api/proctor/class-list?" + new URLSearchParams({className: kelas}),
                        {method: "POST", credentials: "same-origin", body: isi,
                         headers: {"Content-Type": "application/octet-stream"}});
  if (r.status === 401) { location.reload(); return; }
  if (r.status === 413) { $("dk-nama-salah").textContent = "Daftar lebih dari 1 MB."; return; }
  const j = await r.json();
  if (!j.ok) { $(j.field === "className" ? "dk-kelas-salah" : "dk-nama-salah").textContent = j.error; return; }
  $("dk-hasil").textContent = "Kelas " + j.className + ": " + j.taken + " nama diambil (" + j.blank +
                              " baris kosong, " + j.duplicates + " nama ganda dibuang).";
  muatDaftarKelas();
  muatKelas();
  muatDaftar();
}
// Exams: those of the server's file are shown only; those made here can be changed here.
const UJIAN_ISIAN = ["classes", "school", "token", "formUrl", "proctorPin", "opens", "closes", "rotateMinutes"];
let ujianDiubah = null;  // the id of the page exam in the form, or null for a new one
function teksUjian(u) {
  let t = "Kelas " + u.classes.join(", ") + (u.school ? " \u00b7 " + u.school : "") + " - " + u.formUrl;
  if (u.proctorPin) t += " - PIN " + u.proctorPin;
  if (u.opens) t += " - buka " + u.opens.replace("T", " ");
  if (u.closes) t += " - tutup " + u.closes.replace("T", " ");
  return t;
}
async function muatUjian() {
  const isi = await ambil("/api/proctor/exams"), baris = [];
  for (const u of isi.page.concat(isi.file.map(u => Object.assign({dariBerkas: true}, u)))) {
    const tr = document.createElement("tr"), tok = sel(u.token, "token-besar"), ket = sel(teksUjian(u)), aksi = sel("");
    if (!saya.admin) {
      // A proctor hands out the token; the administrator changes the exam.
    } else if (u.dariBerkas) {
      const c = document.createElement("div");
      c.className = "dari-berkas";
      c.textContent = "Dari berkas server.toml: ubah di berkas itu.";
      ket.append(c);
    } else {
      if (u.ended) ket.append(" (ditutup)");
      if (u.rotateMinutes) ket.append(" - token berganti sendiri setiap " + u.rotateMinutes + " menit");
      const tombol = (teks, aksiNya) => { const b = document.createElement("button"); b.type = "button"; b.textContent = teks; b.onclick = aksiNya; aksi.append(b, " "); };
      tombol("Ganti token", () => gantiToken(u));
      tombol("Ubah", () => ubahUjian(u));
      tombol(u.ended ? "Buka" : "Tutup", () => aturUjian(u, !u.ended));
    }
    tr.append(tok, ket, aksi);
    baris.push(tr);
  }
  $("ujian-daftar").replaceChildren(...baris);
}
async function kirimJson(url, obj) {
  const r = await fetch(url, {method: "POST", credentials: "same-origin", headers: {"Content-Type": "application/json"},
                              body: JSON.stringify(obj)});
  if (r.status === 401) { location.reload(); throw new Error("401"); }
  return r.json();
}
async function gantiToken(u) {
  if (!confirm("Ganti token ujian kelas " + u.classes.join(", ") + "? Token lama tidak bisa dipakai lagi untuk masuk; ujian yang sudah berjalan tetap berjalan.")) return;
  const r = await kirimJson("/api/proctor/exam-token", {id: u.id});
  if (!r.ok) alert(r.error);
  muatUjian();
}
async function aturUjian(u, tutup) {
  const r = await kirimJson("/api/proctor/exam-state", {id: u.id, ended: tutup});
  if (!r.ok) alert(r.error);
  muatUjian();
}
function ubahUjian(u) {
  ujianDiubah = u.id;
  $("ex-classes").value = u.classes.join(", ");
  $("ex-school").value = u.school || "";
  $("ex-token").value = "";
  $("ex-token").placeholder = "kosong: tetap " + u.token;
  $("ex-formUrl").value = u.formUrl;
  $("ex-proctorPin").value = u.proctorPin;
  $("ex-opens").value = u.opens;
  $("ex-closes").value = u.closes;
  $("ex-rotateMinutes").value = u.rotateMinutes || "";
  $("ex-simpan").textContent = "Simpan perubahan";
}
async function buatToken() {
  const r = await ambil("/api/proctor/new-token");
  $("ex-token").value = r.token;
}
async function simpanUjian(ev) {
  ev.preventDefault();
  for (const f of UJIAN_ISIAN) $("ex-" + f + "-salah").textContent = "";
  $("ex-hasil").textContent = "";
  const obj = {};
  for (const f of UJIAN_ISIAN) obj[f] = $("ex-" + f).value;
  if (ujianDiubah !== null) obj.id = ujianDiubah;
  const r = await kirimJson("/api/proctor/exam", obj);
  if (!r.ok) {
    for (const [f, pesan] of Object.entries(r.errors || {[r.field]: r.error}))
      ($("ex-" + f + "-salah") || $("ex-hasil")).textContent = pesan;
    return;
  }
  $("ex-hasil").textContent = "Ujian disimpan. Token: " + r.token;
  ujianDiubah = null;
  $("form-ujian").reset();
  $("ex-token").placeholder = "";
  $("ex-simpan").textContent = "Simpan ujian";
  muatUjian();
  muatKelas();
}
// Proctor accounts (the administrator's); a proctor sees neither these nor the forms that change exams and lists.
let saya = {admin: false};
async function muatSaya() {
  saya = await ambil("/api/proctor/me");
  $("saya").textContent = saya.admin ? "Administrator"
    : saya.name + " (kelas " + saya.classes.join(", ") + (saya.school ? ", " + saya.school : "") + ")";
  for (const id of ["form-ujian", "daftar-kelas", "akun"]) $(id).style.display = saya.admin ? "" : "none";
  if (saya.admin) muatAkun();
  muatUjian();
  muatKelas();
}
async function muatAkun() {
  const isi = await ambil("/api/proctor/proctors");
  $("akun-daftar").replaceChildren(...isi.map(a => {
    const li = document.createElement("li"), b = document.createElement("button");
    li.textContent = a.name + ": kelas " + a.classes.join(", ") + (a.school ? " di " + a.school : "") + " ";
    b.type = "button";
    b.textContent = "Hapus";
    b.onclick = async () => {
      if (!confirm("Hapus pengawas " + a.name + "? Ia langsung keluar dari halaman ini.")) return;
      const r = await kirimJson("/api/proctor/proctor-remove", {id: a.id});
      if (!r.ok) alert(r.error);
      muatAkun();
    };
    li.append(b);
    return li;
  }));
}
async function simpanAkun(ev) {
  ev.preventDefault();
  for (const f of ["name", "password", "classes", "school"]) $("ak-" + f + "-salah").textContent = "";
  $("ak-hasil").textContent = "";
  const r = await kirimJson("/api/proctor/proctor", {name: $("ak-name").value, password: $("ak-password").value,
                                                     classes: $("ak-classes").value, school: $("ak-school").value});
  if (!r.ok) {
    for (const [f, pesan] of Object.entries(r.errors || {[r.field]: r.error}))
      ($("ak-" + f + "-salah") || $("ak-hasil")).textContent = pesan;
    return;
  }
  $("ak-hasil").textContent = "Pengawas disimpan.";
  $("form-akun").reset();
  muatAkun();
}
async function muatTerpisah(url, bagian, daftar, jumlah) {
  const isi = await ambil(url);
  $(bagian).style.display = isi.length ? "block" : "none";
  if (jumlah) $(jumlah).textContent = isi.length;
  const ul = $(daftar);
  ul.replaceChildren();
  for (const e of isi.slice(-50)) {
    const li = document.createElement("li");
    li.textContent = jam(e.receivedAt) + "  " + e.studentName + " (kelas " + e.className + ", token " + e.token + "): " + e.event + " - " + e.detail;
    ul.append(li);
  }
}
function muatAsing() {
  muatTerpisah("/api/proctor/timeline?nosession=1", "tanpa-sesi", "tanpa-sesi-daftar", "tanpa-sesi-jumlah");
  muatTerpisah("/api/proctor/timeline?unknown=1", "asing", "asing-daftar", null);
}
async function muatTerdengar() {
  const isi = await ambil("/api/proctor/heard");
  const baris = new Map([...document.querySelectorAll("tr.siswa")].map(tr => [tr.dataset.key, tr]));
  for (const h of isi) {
    const tr = baris.get(h.key);
    if (!tr) continue;
    if ((tr.dataset.state === "Hilang") !== h.missing) { muatNanti(); return; }
    tr.dataset.heard = h.heardAgo;
    tr.dataset.at = Date.now();
    tulisTerdengar(tr);
  }
}
async function muatWhatsApp() {
  const st = await ambil("/api/proctor/status");
  const w = st.whatsapp;
  if (!w) { $("wa").textContent = "WhatsApp belum diatur: laporan hanya tampil di halaman ini."; $("uji").disabled = true; return; }
  let t = "WhatsApp (" + w.preset + ", " + w.recipients + " nomor): " + w.sent + " terkirim, " +
          (w.pending + w.grouping) + " menunggu, " + w.failed + " gagal.";
  if (w.lastError) t += " Galat terakhir: " + w.lastError;
  $("wa").textContent = t;
}
async function kirimUji() {
  const r = await ambil("/api/proctor/test-message", {method: "POST"});
  $("wa-hasil").textContent = r.ok ? "Pesan uji dimasukkan ke antrean." : r.error;
  muatWhatsApp();
}

// A burst of events (a lab starting) is one reload, not one per event: once
// they pause for 300 ms, and every 2 s while they go on.
let tunda = null, awalTunda = 0;
function muatNanti() {
  const kini = Date.now();
  if (tunda) clearTimeout(tunda); else awalTunda = kini;
  tunda = setTimeout(() => { tunda = null; muatDaftar(); muatAsing(); },
                     Math.max(0, Math.min(300, awalTunda + 2000 - kini)));
}
function sambung() {
  const es = new EventSource("/api/proctor/stream");
  es.onopen = () => { $("putus").classList.remove("tampil"); muatNanti(); muatWhatsApp(); };
  es.addEventListener("report", muatNanti);
  es.addEventListener("roster", muatNanti);
  es.addEventListener("presence", muatNanti);
  es.onerror = () => {
    $("putus").classList.add("tampil");
    if (es.readyState === EventSource.CLOSED) { es.close(); setTimeout(sambung, 3000); }
  };
}
$("uji").onclick = kirimUji;
$("kelas-kirim").onclick = pesanKelas;
$("sekolah").onchange = muatDaftar;
$("form-daftar").onsubmit = simpanDaftarKelas;
$("kelas").onchange = gantiKelas;
$("form-ujian").onsubmit = simpanUjian;
$("form-akun").onsubmit = simpanAkun;
$("ex-buat").onclick = buatToken;
muatSaya(); muatKelas(); muatDaftar(); muatAsing(); muatWhatsApp(); muatDaftarKelas();
setInterval(muatUjian, 30000);  // a token that rotates by itself shows its new value
setInterval(muatWhatsApp, 5000);
setInterval(muatTerdengar, 5000);
setInterval(() => document.querySelectorAll("tr.siswa").forEach(tulisTerdengar), 1000);
sambung();
"""

PAGE = f"""<!DOCTYPE html>
<html lang="id"><head><meta charset="utf-8"><meta name="viewport" content="width=device-width">
<title>Pengawas Ujian - ORVEL Selvaro CBT</title><style>{STYLE}</style></head>
<body>
<header><h1>Pengawas Ujian ORVEL Selvaro CBT</h1>
<span id="saya"></span>
<a href="/api/proctor/export.csv">Unduh CSV</a>
<form method="post" action="/pengawas/logout" style="margin:0"><button type="submit">Keluar</button></form>
</header>
<div id="putus">Sambungan ke server terputus. Daftar di bawah tidak diperbarui sampai server tersambung lagi.</div>
<main>
<p><label for="kelas">Kelas</label> <select id="kelas"><option value="">Semua kelas</option></select></p>
<div class="ringkas">
<div class="kotak">Siswa <b id="jumlah">0</b></div>
<div class="kotak">Belum mulai <b id="belum">0</b></div>
<div class="kotak">Mengerjakan <b id="kerja">0</b></div>
<div class="kotak">Selesai <b id="selesai">0</b></div>
<div class="kotak">Hilang <b id="hilang">0</b></div>
<div class="kotak">Dengan pelanggaran <b id="langgar">0</b></div>
</div>
<p id="saring" style="display:none"><label>Sekolah <select id="sekolah"></select></label></p>
<table><thead><tr><th>Nama</th><th>Kelas</th><th>Status</th><th>PC</th><th>Kontak terakhir</th><th>Pelanggaran</th><th>Laporan terakhir</th><th>Keterangan</th><th>Pengawas</th></tr></thead>
<tbody id="daftar"></tbody></table>
<p id="kosong">Belum ada siswa yang memasukkan token.</p>
<p><small>Siswa yang Hilang ada paling atas, lalu yang pelanggarannya terbanyak. Hilang: aplikasi ujian di PC
siswa tidak terdengar lagi (ditutup paksa, PC mati, atau jaringan putus): datangi PC itu. Klik nama siswa untuk
melihat riwayatnya. Pesan, kunci layar dan akhir ujian sampai di PC siswa dalam 15 detik.</small></p>
<p id="perintah-hasil"></p>
<section id="kelas-pesan"><h3>Pesan ke kelas</h3>
<label for="kelas-nama">Kelas</label> <input id="kelas-nama" size="6"><br>
<textarea id="kelas-teks" rows="3" maxlength="300" placeholder="Pesan untuk setiap siswa yang sedang mengerjakan"></textarea><br>
<button id="kelas-kirim" type="button">Kirim ke kelas</button></section>
<section id="ujian"><h3>Ujian dan token</h3>
<table class="ujian"><thead><tr><th>Token</th><th>Ujian</th><th></th></tr></thead><tbody id="ujian-daftar"></tbody></table>
<form id="form-ujian" class="ujian">
<h4>Buat ujian</h4>
<div><label for="ex-classes">Kelas (pisahkan dengan koma)</label><input id="ex-classes" size="30"><span class="salah" id="ex-classes-salah"></span></div>
<div><label for="ex-school">Sekolah</label><input id="ex-school" size="30" maxlength="500" placeholder="boleh kosong"><span class="salah" id="ex-school-salah"></span></div>
<div><small>Sekolah diisi bila server ini melayani beberapa sekolah: kelas 5A dua sekolah adalah dua kelas.</small></div>
<div><label for="ex-token">Token</label><input id="ex-token" size="12" maxlength="62" style="text-transform:uppercase">
<button type="button" id="ex-buat">Buat token</button><span class="salah" id="ex-token-salah"></span></div>
<div><label for="ex-formUrl">Alamat formulir</label><input id="ex-formUrl" size="60" placeholder="https://docs.google.com/forms/...{{studentName}}">
<span class="salah" id="ex-formUrl-salah"></span></div>
<div><small>Tulis {{studentName}} di alamat formulir di tempat nama siswa harus diisi.</small></div>
<div><label for="ex-proctorPin">PIN pengawas (boleh kosong)</label><input id="ex-proctorPin" size="10"><span class="salah" id="ex-proctorPin-salah"></span></div>
<div><label for="ex-opens">Dibuka (boleh kosong)</label><input id="ex-opens" type="datetime-local"><span class="salah" id="ex-opens-salah"></span></div>
<div><label for="ex-closes">Ditutup (boleh kosong)</label><input id="ex-closes" type="datetime-local"><span class="salah" id="ex-closes-salah"></span></div>
<div><label for="ex-rotateMinutes">Ganti token sendiri setiap (menit, kosong: tidak)</label><input id="ex-rotateMinutes" size="5" inputmode="numeric">
<span class="salah" id="ex-rotateMinutes-salah"></span></div>
<p><button type="submit" id="ex-simpan">Simpan ujian</button> <span id="ex-hasil"></span></p>
</form></section>
<section id="akun" style="display:none"><h3>Pengawas</h3>
<ul id="akun-daftar"></ul>
<form id="form-akun" class="ujian">
<div><label for="ak-name">Nama pengawas</label><input id="ak-name" maxlength="62"><span class="salah" id="ak-name-salah"></span></div>
<div><label for="ak-password">Kata sandi (paling sedikit 10 huruf)</label><input id="ak-password" type="password" autocomplete="new-password"><span class="salah" id="ak-password-salah"></span></div>
<div><label for="ak-classes">Kelas yang diawasi (pisahkan dengan koma)</label><input id="ak-classes"><span class="salah" id="ak-classes-salah"></span></div>
<div><label for="ak-school">Sekolah</label><input id="ak-school" maxlength="500" placeholder="kosong: kelas itu di semua sekolah"><span class="salah" id="ak-school-salah"></span></div>
<p><button type="submit" id="ak-simpan">Simpan pengawas</button> <span id="ak-hasil"></span></p>
</form></section>
<section id="daftar-kelas"><h3>Daftar siswa per kelas</h3>
<form id="form-daftar" class="daftar-kelas">
<label for="dk-kelas">Kelas</label><input id="dk-kelas" maxlength="62"> <span class="salah" id="dk-kelas-salah"></span>
<label for="dk-nama">Tempel nama siswa, satu nama per baris</label><textarea id="dk-nama" rows="6"></textarea>
<label for="dk-berkas">atau pilih berkas (CSV dari Excel atau teks Unicode, kolom "Nama")</label>
<input type="file" id="dk-berkas" accept=".csv,.txt,text/csv,text/plain"> <span class="salah" id="dk-nama-salah"></span>
<p><button type="submit">Simpan daftar</button> <span id="dk-hasil"></span></p>
<p><small>Daftar baru menggantikan daftar kelas itu. Siswa di daftar tampil "Belum mulai" sampai memasukkan token;
nama yang diketik siswa tetap diterima walau tidak ada di daftar.</small></p>
</form>
<ul id="dk-ada"></ul></section>
<section><h3>WhatsApp pengawas</h3><p id="wa">...</p>
<button id="uji" type="button">Kirim pesan uji</button> <span id="wa-hasil"></span></section>
<section id="tanpa-sesi" style="display:none"><h3>Laporan tanpa sesi (<span id="tanpa-sesi-jumlah">0</span>)</h3>
<p><small>Laporan ini tidak datang dari ujian yang tokennya diverifikasi, jadi tidak mengubah status siswa dan tidak
diteruskan ke WhatsApp. Jika ada, token kelas diketahui di luar kelas: ganti tokennya.</small></p>
<ul id="tanpa-sesi-daftar"></ul></section>
<section id="asing" style="display:none"><h3>Laporan dengan token yang tidak dikenal</h3><ul id="asing-daftar"></ul></section>
</main>
<script>{SCRIPT}</script>
</body></html>
"""

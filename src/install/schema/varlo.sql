-- Base de dados Varlo em SQLite: as tabelas e colunas que o utilitário das taxas de IVA usa,
-- com os tipos que têm no SQL Server da aplicação (os preços são decimais com o IVA incluído).

CREATE TABLE iva (
    codigo    INTEGER NOT NULL,
    factor    INTEGER NOT NULL,
    descricao VARCHAR(50)
);

CREATE TABLE produtos (
    codigo      VARCHAR(20) NOT NULL PRIMARY KEY,
    descricao   VARCHAR(60) NOT NULL DEFAULT '',
    familia     VARCHAR(30),
    unidade     VARCHAR(5),
    iva         INTEGER,
    ivacompra   INTEGER,
    precovenda  DECIMAL(18, 4) NOT NULL DEFAULT 0,
    precocompra DECIMAL(18, 4) NOT NULL DEFAULT 0
);

CREATE TABLE configuracao (
    empresa       VARCHAR(60),
    contribuinte  VARCHAR(9),
    morada        VARCHAR(60),
    casasdecimais INTEGER,
    ivaincluido   INTEGER
);

-- dados de exemplo

INSERT INTO iva (codigo, factor, descricao) VALUES
    (0, 0, 'Isento'),
    (6, 6, 'Taxa reduzida'),
    (13, 13, 'Taxa intermédia'),
    (23, 23, 'Taxa normal');

INSERT INTO configuracao (empresa, contribuinte, morada, casasdecimais, ivaincluido)
VALUES ('Mercearia Ferreira & Filhos, Lda.', '501234567', 'Rua Direita, 12, Viseu', 2, 1);

-- @catalogo: os artigos de exemplo e as suas variantes (catalogo.sql), na tabela base.

INSERT INTO produtos (codigo, descricao, familia, unidade, iva, ivacompra, precovenda, precocompra)
SELECT printf('V%05d', num), descricao, familia, unidade, taxa, taxacompra, preco, ROUND(preco * 0.65, 2)
FROM base ORDER BY num;

DROP TABLE base;
DROP TABLE variantes;
DROP TABLE artigos;
